#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kv {

// One entry of a remote folder as the FTP server's detailed listing (LIST) shows it.
struct FtpListEntry {
    std::string name;
    bool folder = false;
    bool operator==(const FtpListEntry&) const = default;
};

// True for a name that stays inside its folder: not empty, not "." or "..", no slash
// (which also refuses "./" and "../").
bool IsPlainFtpName(const std::string& name);

// Reads one LIST line in the Unix "ls -l" layout the device's server uses (the DOS
// layout "MM-DD-YY hh:mmAM <DIR> name" is understood too). Lines that name no entry
// ("total 8", blank lines) and names that are not plain (".", "..", "./", "a/b") give
// nullopt: walking into them would never end or would leave the folder.
std::optional<FtpListEntry> ParseFtpListLine(const std::string& line);

std::vector<FtpListEntry> ParseFtpListing(const std::vector<std::string>& lines);

}  // namespace kv
