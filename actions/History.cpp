#include "actions/History.h"

#include <algorithm>
#include <filesystem>

#include "core/Journal.h"
#include "core/Sha256.h"

namespace kv::ops {

namespace {

constexpr const char* kUnchanged = "unchanged";
constexpr const char* kEveryRowSkipped = "every row skipped";

// The history names no kind for a run without a device.
std::string kindName(ConnectionKind kind) {
    return kind == ConnectionKind::None ? std::string() : std::string(DeviceKindName(kind));
}

HistoryDevice deviceOf(Context& ctx) {
    const SharedState& s = ctx.state;
    HistoryDevice device;
    device.kind = kindName(s.ConnectionKind);
    device.name = s.properties.name;
    device.serial = s.properties.serial;
    device.mac = s.properties.mac;
    device.address = s.properties.ip;
    // A USB device is known by its serial number (the properties' address is a label).
    if (s.ConnectionKind == ConnectionKind::Usb) device.address = s.properties.serial;
    if (const TMatrixRec* selected = ctx.state.selectedDevice()) {
        if (device.address.empty()) device.address = selected->IP;
        device.ident = selected->Ident;
        device.moduleVersion = selected->ModuleVersion;
    }
    return device;
}

// The file as it is now: its size and SHA-256, none when it cannot be read.
void describeFile(HistoryRow& row) {
    if (row.file.empty()) return;
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(row.file, ec);
    if (!ec) row.size = size;
    if (std::optional<std::string> digest = FileSha256Hex(row.file)) row.sha256 = *digest;
}

}  // namespace

std::string RunVerdictName(const RunResult& run) {
    if (run.interrupted) return "interrupted";
    if (run.end == RunEnd::Refused) return "refused";
    if (run.deviceSilent) return "unreachable";
    const bool allSkipped =
        !run.rows.empty() && std::all_of(run.rows.begin(), run.rows.end(), [](const RowResult& r) {
            return r.state == RowState::Skipped;
        });
    if (allSkipped) return kUnchanged;
    return run.success() ? "ok" : "failed";
}

UpgradeRecord HistoryRecordOf(Context& ctx, const std::vector<RowView>& before,
                              const RunResult& run, std::chrono::system_clock::time_point start,
                              std::chrono::system_clock::time_point end,
                              const std::string& frontEnd) {
    UpgradeRecord record;
    record.start = IsoUtc(start);
    record.end = IsoUtc(end);
    record.user = LocalUserName();
    record.host = LocalHostName();
    record.frontEnd = frontEnd;
    record.device = deviceOf(ctx);
    auto listed = [&before](int row) -> const RowView* {
        for (const RowView& view : before)
            if (view.row == row) return &view;
        return nullptr;
    };
    for (const RowResult& ended : run.rows) {
        HistoryRow row;
        row.row = ended.row;
        row.type = ended.type;
        row.from = ended.from;
        if (const RowView* view = listed(ended.row)) {
            row.hardware = view->hardware;
            row.from = view->firmware;
        }
        if (!ended.to.empty()) row.to = ended.to;
        row.expected = ended.expected;
        row.file = ended.file;
        row.state = std::string(RowStateName(ended.state));
        row.reason = ended.reason;
        row.retransmissions = ended.retransmissions;
        row.rewrites = ended.rewrites;
        row.seconds = ended.seconds;
        record.rows.push_back(std::move(row));
    }
    // A refused run never began a row: the rows it was asked for, none of them attempted.
    if (run.rows.empty()) {
        for (const RowView& view : before) {
            if (!view.selected || view.file.empty()) continue;
            HistoryRow row;
            row.row = view.row;
            row.type = view.type;
            row.hardware = view.hardware;
            row.from = view.firmware;
            row.file = view.file;
            row.state = std::string(RowStateName(RowState::NotAttempted));
            record.rows.push_back(std::move(row));
        }
    }
    for (HistoryRow& row : record.rows) describeFile(row);
    record.verdict = RunVerdictName(run);
    record.reason = !run.refusal.empty() ? run.refusal : run.escapedError;
    if (record.reason.empty() && record.verdict == kUnchanged) record.reason = kEveryRowSkipped;
    record.retransmissions = run.retransmissions;
    record.rewrites = run.rewrites;
    return record;
}

RecordedRun UpgradeWithRecord(Context& ctx, const std::string& frontEnd,
                              std::vector<RowResult> skipped) {
    const std::vector<RowView> before = ListRows(ctx);
    const auto start = std::chrono::system_clock::now();
    const bool ticked = std::any_of(before.begin(), before.end(),
                                    [](const RowView& view) { return view.selected; });
    RecordedRun recorded;
    if (ticked || skipped.empty()) recorded.run = Upgrade(ctx);
    // Rows left out are part of the run only when it went through its rows.
    if (recorded.run.end == RunEnd::Completed) {
        for (RowResult& row : skipped) recorded.run.rows.push_back(std::move(row));
        std::sort(recorded.run.rows.begin(), recorded.run.rows.end(),
                  [](const RowResult& a, const RowResult& b) { return a.row < b.row; });
    }
    const RunEnd end = recorded.run.end;
    if (end == RunEnd::Completed || end == RunEnd::Refused) {
        recorded.record = HistoryRecordOf(ctx, before, recorded.run, start,
                                          std::chrono::system_clock::now(), frontEnd);
    }
    return recorded;
}

void SettleRecord(UpgradeRecord& record, const RunResult& run) {
    for (HistoryRow& row : record.rows) {
        for (const RowResult& ended : run.rows) {
            if (ended.row != row.row) continue;
            if (!ended.to.empty()) row.to = ended.to;
            if (!ended.expected.empty()) row.expected = ended.expected;
            row.state = std::string(RowStateName(ended.state));
            row.reason = ended.reason;
        }
    }
    record.verdict = RunVerdictName(run);
}

void AppendToHistory(Context& ctx, const UpgradeRecord& record) {
    const std::string error = UpgradeHistory(ctx.state.AppDataFolder).append(record);
    if (!error.empty()) ctx.log_line("The upgrade history could not be written: " + error);
}

}  // namespace kv::ops
