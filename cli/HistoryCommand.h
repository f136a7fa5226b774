#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "records/UpgradeHistory.h"

namespace kv::cli {

// Which runs `kvboot history` lists; empty fields select everything.
struct HistoryFilter {
    std::string address;  // the device's address, serial port or USB serial number
    std::string serial;   // the device's serial number
    std::string since;    // UTC, as records write it: runs started at or after it
};

// --since: "YYYY-MM-DD", "YYYY-MM-DDTHH:MM" or "...:SS" (a space for the T, a Z at the end
// allowed), UTC, written as records write times; nullopt for anything else.
std::optional<std::string> ParseSince(const std::string& text);

// The records the filter selects, newest first.
std::vector<UpgradeRecord> SelectRuns(const std::vector<UpgradeRecord>& records,
                                      const HistoryFilter& filter);

// `kvboot history [TARGET | --serial S] [--since DATE] [--json]`.
Subcommand HistoryCommand();

}  // namespace kv::cli
