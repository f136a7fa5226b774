#include "cli/UpgradeRun.h"

#include <algorithm>

#include "actions/History.h"
#include "cli/Versions.h"

namespace kv::cli {

namespace {

// Whether the run may have written to the device: a row that ended OK or failed was
// erased or written, an interrupted one when bytes went.
bool wroteFlash(const RunResult& run) {
    if (run.end != RunEnd::Completed || run.deviceSilent) return false;
    return std::any_of(run.rows.begin(), run.rows.end(), [](const RowResult& row) {
        return row.state == RowState::Ok || row.state == RowState::Failed ||
               (row.state == RowState::Interrupted && row.bytes > 0);
    });
}

}  // namespace

bool RunRequest::readsBack() const {
    return verify || std::any_of(rows.begin(), rows.end(),
                                 [](const RowFile& row) { return !row.expected.empty(); });
}

UpgradeRun::UpgradeRun(DeviceSession& session, Target target, std::optional<HandleAs> as,
                       RunRequest request)
    : session_(session), target_(std::move(target)), as_(as), request_(std::move(request)) {}

SessionResult UpgradeRun::prepare() {
    session_.expectFiles(request_.rows);
    const SessionResult connected = session_.connect(target_, as_);
    if (!connected.ok()) return connected;
    const std::vector<ControllerRow> rows = session_.rows();
    decisions_.clear();
    for (const RowFile& request : request_.rows) {
        const std::optional<std::size_t> index = FindRow(rows, request.row);
        RowDecision decision;
        decision.path = request.path;
        if (index) {
            const ControllerRow& row = rows[*index];
            decision.row = row.row;
            decision.type = row.type;
            decision.from = row.firmware;
            if (!request.expected.empty())
                decision.expected = InDeviceForm(request.expected, row.firmware);
            decision.skip = !request_.force && SameVersion(decision.expected, decision.from);
        }
        // An unknown row is refused by the choice, with the rows the device has.
        if (!decision.skip) {
            const SessionResult chosen = session_.chooseFile(request.row, request.path);
            if (!chosen.ok()) return chosen;
        }
        decisions_.push_back(std::move(decision));
    }
    return {};
}

bool UpgradeRun::flashes() const {
    return std::any_of(decisions_.begin(), decisions_.end(),
                       [](const RowDecision& decision) { return !decision.skip; });
}

UpgradeOutcome UpgradeRun::finish(SessionResult& closed) {
    std::vector<RowResult> skipped;
    for (const RowDecision& decision : decisions_) {
        if (!decision.skip) continue;
        RowResult row;
        row.row = decision.row;
        row.type = decision.type;
        row.file = decision.path;
        row.state = RowState::Skipped;
        row.reason = AlreadyAtReason(decision.from);
        // The report window's lines never show a row the window would not skip.
        row.reported = false;
        skipped.push_back(std::move(row));
    }
    // A device whose rows are all where they should be is only read and closed again; the
    // history still gets the run.
    UpgradeOutcome outcome = session_.upgrade(std::move(skipped));
    closed = session_.close();
    outcome.changed = wroteFlash(outcome.run);
    for (RowResult& row : outcome.run.rows) {
        for (const RowDecision& decision : decisions_) {
            if (decision.row != row.row) continue;
            row.from = decision.from;
            row.expected = decision.expected;
        }
    }
    if (outcome.changed && !outcome.interrupted && closed.ok() && request_.readsBack())
        readBack(outcome);
    if (outcome.record) ops::SettleRecord(*outcome.record, outcome.run);
    return outcome;
}

void UpgradeRun::readBack(UpgradeOutcome& outcome) {
    std::vector<ControllerRow> rows;
    const SessionResult read = session_.readBack(target_, as_, rows);
    if (!read.ok()) {
        if (outcome.result.ok()) {
            outcome.result = {
                read.error,
                "the versions could not be read back after the upgrade: " + read.message};
        }
        return;
    }
    for (RowResult& row : outcome.run.rows) {
        if (row.state == RowState::Skipped) continue;
        for (const ControllerRow& now : rows)
            if (now.row == row.row && now.type == row.type) row.to = now.firmware;
        if (row.state != RowState::Ok || row.expected.empty()) continue;
        if (SameVersion(row.expected, row.to)) continue;
        row.state = RowState::Failed;
        row.reason = ReadBackMismatchReason(row.to, row.expected);
    }
}

}  // namespace kv::cli
