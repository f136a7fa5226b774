#pragma once

#include <string>
#include <vector>

#include "core/Context.h"

namespace kv {

// The upgrade report shown in the report window (Memo1 and its verdict label Label3).
class UpgradeReport {
  public:
    static constexpr const char* kDashes = "-------------------------------";  // 31
    static constexpr const char* kSuccess = "Upgrade successful";
    static constexpr const char* kFailed = "Upgrade FAILED";

    // Header lines; AllOk true; the run's retransmission and rewrite totals back to 0.
    void start(Context& ctx);
    // "<type>...OK" or "<type>...FAILED" (which clears AllOk).
    void addRow(const std::string& controllerType, bool ok);
    // The closing dashes and the two totals, then the whole text to the log file.
    void finish(Context& ctx);
    // Shows the report window modally with the verdict.
    void show(Context& ctx) const;

    bool allOk() const { return allOk_; }
    void fail() { allOk_ = false; }
    const std::vector<std::string>& lines() const { return lines_; }
    std::string text() const;  // lines joined by CR LF

  private:
    std::vector<std::string> lines_;
    bool allOk_ = true;
};

}  // namespace kv
