#pragma once

#include <optional>
#include <string>

#include "core/Context.h"

namespace kv {

// "Add" of the Add IP window. With a port: the address and tunnel port go straight into
// DeviceList and the network tree, no query is sent. Without: the module query goes to the
// address and its answers are handled like those of FIND.
void AddIP(Context& ctx, const std::string& address, bool usePort, const std::string& portText);

// A TCP port typed as a decimal number (blanks around it allowed); nullopt for anything
// else, including numbers outside 1..65535.
std::optional<int> ParsePortNumber(const std::string& text);

}  // namespace kv
