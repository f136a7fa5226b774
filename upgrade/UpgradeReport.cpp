#include "UpgradeReport.h"

namespace kv {

void UpgradeReport::start(Context& ctx) {
    lines_ = {"UPGRADE PROCEDURE REPORT", kDashes, ""};
    allOk_ = true;
    ctx.state.RetransmissionCount = 0;
    ctx.state.RewriteCount = 0;
}

void UpgradeReport::addRow(const std::string& controllerType, bool ok) {
    lines_.push_back(controllerType + (ok ? "...OK" : "...FAILED"));
    if (!ok) allOk_ = false;
}

void UpgradeReport::finish(Context& ctx) {
    lines_.push_back(kDashes);
    lines_.push_back("Total retransmissions:" + std::to_string(ctx.state.RetransmissionCount));
    lines_.push_back("Total rewrites:" + std::to_string(ctx.state.RewriteCount));
    ctx.log_line(text());
}

void UpgradeReport::show(Context& ctx) const {
    ctx.ui.showReport(lines_, allOk_ ? kSuccess : kFailed, allOk_);
}

std::string UpgradeReport::text() const {
    std::string out;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (i) out += "\r\n";
        out += lines_[i];
    }
    return out;
}

}  // namespace kv
