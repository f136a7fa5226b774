#include "UpgradeReport.h"

#include <algorithm>

#include "core/ports/ChannelError.h"

namespace kv {

namespace {

std::string joinLines(const std::vector<std::string>& lines) {
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i) out += "\r\n";
        out += lines[i];
    }
    return out;
}

}  // namespace

void UpgradeReport::start(Context& ctx) {
    result_ = RunResult{};
    inRow_ = false;
    ctx.state.RetransmissionCount = 0;
    ctx.state.RewriteCount = 0;
}

void UpgradeReport::beginRow(Context& ctx, std::size_t row, const TControllerRec& controller) {
    RowResult r;
    r.row = static_cast<int>(row);
    r.type = controller.ControllerType;
    r.file = controller.FirmwareFile;
    result_.rows.push_back(std::move(r));
    inRow_ = true;
    rowStart_ = ctx.clock.now();
    rowRetransmissions_ = ctx.state.RetransmissionCount;
    rowRewrites_ = ctx.state.RewriteCount;
    ctx.progressRow = static_cast<int>(row);
    ctx.rowBytesDone = 0;
    ctx.rowFailure.clear();
    ctx.journal_row(static_cast<int>(row), controller.ControllerType);
}

void UpgradeReport::endRow(Context& ctx, bool ok, bool reported) {
    if (!inRow_) return;
    RowResult& r = result_.rows.back();
    r.state = ok ? RowState::Ok : RowState::Failed;
    if (!ok) {
        r.reason = ctx.rowFailure.empty() ? "the row did not complete" : ctx.rowFailure;
        if (ctx.interruptRequested()) r.state = RowState::Interrupted;
    }
    r.bytes = ctx.rowBytesDone;
    r.seconds = std::chrono::duration<double>(ctx.clock.now() - rowStart_).count();
    r.retransmissions = ctx.state.RetransmissionCount - rowRetransmissions_;
    r.rewrites = ctx.state.RewriteCount - rowRewrites_;
    r.reported = reported;
    inRow_ = false;
    ctx.progressRow = -1;
}

void UpgradeReport::endRowByError(Context& ctx, const std::exception& error) {
    if (ctx.rowFailure.empty()) ctx.rowFailure = error.what();
    endRow(ctx, false);
    if (dynamic_cast<const Interrupted*>(&error)) result_.rows.back().state = RowState::Interrupted;
}

void UpgradeReport::notAttempted(Context& ctx, std::size_t row, const TControllerRec& controller) {
    RowResult r;
    r.row = static_cast<int>(row);
    r.type = controller.ControllerType;
    r.file = controller.FirmwareFile;
    r.state = ctx.interruptRequested() ? RowState::Interrupted : RowState::NotAttempted;
    r.reason = ctx.interruptRequested() ? "the run was interrupted before this row"
                                        : "an earlier row's failure ended the run";
    result_.rows.push_back(std::move(r));
}

void UpgradeReport::finish(Context& ctx) {
    result_.retransmissions = ctx.state.RetransmissionCount;
    result_.rewrites = ctx.state.RewriteCount;
    result_.interrupted = ctx.interruptRequested();
    ctx.log_line(joinLines(ReportLines(result_)));
}

void UpgradeReport::show(Context& ctx) const {
    ctx.ui.showReport(ReportLines(result_), ReportVerdict(result_), allOk());
}

bool UpgradeReport::allOk() const {
    return std::all_of(result_.rows.begin(), result_.rows.end(),
                       [](const RowResult& r) { return r.state == RowState::Ok; });
}

}  // namespace kv
