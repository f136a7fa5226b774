#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// How one controller row of an upgrade run ended.
enum class RowState {
    Ok,            // programmed and checked
    Failed,        // attempted and failed (`reason` says why)
    NotAttempted,  // chosen, but an earlier failure ended the run before it
    Interrupted,   // the run was cut short (kvboot's Ctrl-C) before or while it ran
    Skipped,       // already at its expected version: not flashed (kvboot; the window never
                   // skips)
};

struct RowResult {
    int row = -1;  // row of the controller grid
    std::string type;
    std::string file;  // full path of the chosen file
    RowState state = RowState::NotAttempted;
    std::string reason;       // why it did not end Ok, in the program's own words
    std::uint64_t bytes = 0;  // bytes of the file that went to the device
    double seconds = 0;
    int retransmissions = 0;  // of the run's totals, those made while this row ran
    int rewrites = 0;
    bool reported = true;  // listed in the report window (a transmitter's report lists none)
    // Versions as the device reports them ("FW:1.4.0"); empty when unknown. `to` is read
    // back after the run and the restore, `expected` is what the operator asked for.
    std::string from;
    std::string to;
    std::string expected;
};

// How an UPGRADE ended.
enum class RunEnd {
    Completed,        // the rows ran and the report was shown
    NothingSelected,  // no row was ticked: "No controller selected to upgrade!"
    Declined,         // the operator did not confirm "Do you really want to upgrade?"
    Refused,          // the chosen files were refused before anything was sent
};

// What an upgrade run did, for every front end: the report window, kvboot's output and
// JSON, the fleet report.
struct RunResult {
    RunEnd end = RunEnd::Completed;
    std::string refusal;  // the refusal's text (NothingSelected, Refused)
    std::vector<RowResult> rows;
    int retransmissions = 0;
    int rewrites = 0;
    bool interrupted = false;
    // The device never answered its bootloader entry: it is unreachable, not just failed.
    bool deviceSilent = false;
    // An error that escaped the procedure (the general error display showed it).
    std::string escapedError;
    bool success() const;  // completed, every row Ok (or skipped)
};

// "ok", "failed", "not-attempted", "interrupted", "skipped"
std::string_view RowStateName(RowState state);

// The upgrade report as the report window shows it, line by line, and its verdict.
std::vector<std::string> ReportLines(const RunResult& result);
std::string ReportVerdict(const RunResult& result);

}  // namespace kv
