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

// Reads one LIST line in the Unix "ls -l" layout the device's server uses (the DOS
// layout "MM-DD-YY hh:mmAM <DIR> name" is understood too). Lines that name no entry
// ("total 8", blank lines) and the "." and ".." entries give nullopt: walking into them
// would never end or would leave the folder.
std::optional<FtpListEntry> ParseFtpListLine(const std::string& line);

std::vector<FtpListEntry> ParseFtpListing(const std::vector<std::string>& lines);

}  // namespace kv
