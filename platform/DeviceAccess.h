#pragma once

#include <string>

namespace kv {

// Whether a device node that could not be opened failed for lack of this user's rights:
// it exists, and reading and writing it are refused with EACCES.
bool LacksAccess(const std::string& path);

// The messages of AccessDenied: what cannot be opened and how to fix it.
std::string SerialAccessMessage(const std::string& port);
std::string HidAccessMessage(const std::string& product, const std::string& serial,
                             const std::string& path);

}  // namespace kv
