#pragma once

#include <string_view>

namespace kv::cli {

// kvboot's statuses, shared by every subcommand (scripts test the exit code, and the JSON
// "status" field names the status).
enum class ExitStatus : int {
    Ok = 0,           // every row (every device) OK / the file is sound
    RowFailed = 1,    // some row failed
    Usage = 2,        // bad command line or bad input
    Unreachable = 3,  // a device not found or unreachable
    Interrupted = 4,  // Ctrl-C: the device was restored and the report written
    FileRefused = 5,  // check: the file is unreadable, unsound or no firmware (exits 2)
};

// The process exit code: a refused file is bad input, as for the other subcommands.
constexpr int ToInt(ExitStatus status) {
    return status == ExitStatus::FileRefused ? static_cast<int>(ExitStatus::Usage)
                                             : static_cast<int>(status);
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
            case ExitStatus::FileRefused:
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

// "ok", "row-failed", "usage", "unreachable", "interrupted", "file-refused" (the JSON
// "status" field).
constexpr std::string_view ExitStatusName(ExitStatus status) {
    switch (status) {
        case ExitStatus::Ok:
            return "ok";
        case ExitStatus::RowFailed:
            return "row-failed";
        case ExitStatus::Usage:
            return "usage";
        case ExitStatus::Unreachable:
            return "unreachable";
        case ExitStatus::Interrupted:
            return "interrupted";
        case ExitStatus::FileRefused:
            return "file-refused";
    }
    return "row-failed";
}

}  // namespace kv::cli
