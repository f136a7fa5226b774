#pragma once

#include <optional>
#include <string>
#include <vector>

#include "actions/Operations.h"
#include "records/UpgradeHistory.h"

// The upgrade history of both front ends: the record of a run is made here, from what the
// run left in the context, so the window and kvboot write the same thing.
namespace kv::ops {

// An UPGRADE with its history record. No record for a run that did nothing worth keeping
// (no row ticked, the operator did not confirm); a run whose files were refused is kept.
struct RecordedRun {
    RunResult run;
    std::optional<UpgradeRecord> record;
};
// `frontEnd` names who ran it in the record ("window", "kvboot"). `skipped`: rows the front
// end leaves out because they already run the version asked for; they join the run's rows
// and its record. When they are all there is (no row ticked), the procedure is not run and
// the record says the device was left unchanged.
RecordedRun UpgradeWithRecord(Context& ctx, const std::string& frontEnd,
                              std::vector<RowResult> skipped = {});

// The run as the front end settled it after the record was made (versions read back, rows
// failed by them): each row's version read back, the version asked for, state and reason,
// and the verdict.
void SettleRecord(UpgradeRecord& record, const RunResult& run);

// The record of a run: the device as connected now, its rows as listed before the run
// (`before`: hardware and versions), the run's result, its start and end. The files are
// measured and their SHA-256 taken here.
UpgradeRecord HistoryRecordOf(Context& ctx, const std::vector<RowView>& before,
                              const RunResult& run, std::chrono::system_clock::time_point start,
                              std::chrono::system_clock::time_point end,
                              const std::string& frontEnd);

// "ok", "failed", "interrupted", "unreachable" (the bootloader never answered), "refused",
// "unchanged" (every row skipped).
std::string RunVerdictName(const RunResult& run);

// Appends the record to the history in the per-user data folder; a failure is written to
// the log and changes nothing else.
void AppendToHistory(Context& ctx, const UpgradeRecord& record);

}  // namespace kv::ops
