#pragma once

#include <string_view>

namespace kv::cli {

// kvboot's exit statuses, shared by every subcommand (scripts test them).
enum class ExitStatus : int {
    Ok = 0,           // every row (every device) OK / the file is sound
    RowFailed = 1,    // some row failed (or the file failed its check)
    Usage = 2,        // bad command line or bad input file
    Unreachable = 3,  // a device not found or unreachable
    Interrupted = 4,  // Ctrl-C: the device was restored and the report written
};

constexpr int ToInt(ExitStatus status) {
    return static_cast<int>(status);
}

// The status of several results together (a fleet): interrupted wins, then an
// unreachable device, then bad input, then a failed row.
constexpr ExitStatus Worst(ExitStatus a, ExitStatus b) {
    auto rank = [](ExitStatus s) {
        switch (s) {
            case ExitStatus::Ok:
                return 0;
            case ExitStatus::RowFailed:
                return 1;
            case ExitStatus::Usage:
                return 2;
            case ExitStatus::Unreachable:
                return 3;
            case ExitStatus::Interrupted:
                return 4;
        }
        return 4;
    };
    return rank(a) >= rank(b) ? a : b;
}

// "ok", "row-failed", "usage", "unreachable", "interrupted" (the JSON "status" field).
std::string_view ExitStatusName(ExitStatus status);

}  // namespace kv::cli
