#pragma once

#include <chrono>
#include <cstddef>

#include "core/Context.h"
#include "core/RunResult.h"

namespace kv {

// Builds the run result of an upgrade row by row; the report window shows its text.
class UpgradeReport {
  public:
    // The run's retransmission and rewrite totals back to 0.
    void start(Context& ctx);
    // A row starts: progress and failure reasons from now on belong to it.
    void beginRow(Context& ctx, std::size_t row, const TControllerRec& controller);
    // The row begun last ends, Ok or Failed with the first reason given while it ran.
    // `reported`: the report window lists it.
    void endRow(Context& ctx, bool ok, bool reported = true);
    // The row begun last ended by an error that escaped it.
    void endRowByError(Context& ctx, const std::exception& error);
    // A chosen row the run never reached.
    void notAttempted(Context& ctx, std::size_t row, const TControllerRec& controller);
    bool inRow() const { return inRow_; }
    // The device never answered its bootloader entry.
    void deviceSilent() { result_.deviceSilent = true; }
    // The totals, then the report's whole text to the log file.
    void finish(Context& ctx);
    // Shows the report window modally with the verdict.
    void show(Context& ctx) const;

    bool allOk() const;
    const RunResult& result() const { return result_; }

  private:
    RunResult result_;
    bool inRow_ = false;
    Clock::TimePoint rowStart_{};
    // The run's counts when the row began.
    int rowRetransmissions_ = 0;
    int rowRewrites_ = 0;
};

}  // namespace kv
