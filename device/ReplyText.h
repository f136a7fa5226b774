#pragma once

#include <optional>
#include <string>

namespace kv {

// Reading values out of the device's text replies. Positions follow the first
// occurrence of each marker.

// "(I:RV-FS64S)" -> "I:RV-FS64S": the reply without its first and last character.
std::string IdentName(const std::string& reply);
// The characters from the second one up to, not including, the first ")".
std::string SerialNumberText(const std::string& reply);
// After the first ":" up to, not including, the first ")" that follows it (to the end
// when none follows); empty when there is no ":".
std::string ValueAfterColon(const std::string& reply);
// The same after the first "=".
std::string ValueAfterEquals(const std::string& reply);

// Version a.b.c as 100*a + 10*b + c, read from characters 1, 3 and 5 only; anything but
// a decimal digit there (or a missing character) counts as 0.
int FirmwareNumber(const std::string& version);

// For a "{P_?}" reply that carries "(Current protocol" or "(CURRENT PROTOCOL": the
// character right after the first "#" (empty when there is none). nullopt when the
// reply carries neither marker.
std::optional<std::string> ProtocolNumberText(const std::string& reply);

}  // namespace kv
