#include "core/RunResult.h"

#include <algorithm>

namespace kv {

namespace {

constexpr const char* kDashes = "-------------------------------";

}  // namespace

bool RunResult::success() const {
    return end == RunEnd::Completed && escapedError.empty() &&
           std::all_of(rows.begin(), rows.end(), [](const RowResult& row) {
               return row.state == RowState::Ok || row.state == RowState::Skipped;
           });
}

std::string_view RowStateName(RowState state) {
    switch (state) {
        case RowState::Ok:
            return "ok";
        case RowState::Failed:
            return "failed";
        case RowState::NotAttempted:
            return "not-attempted";
        case RowState::Interrupted:
            return "interrupted";
        case RowState::Skipped:
            return "skipped";
    }
    return "failed";
}

std::vector<std::string> ReportLines(const RunResult& result) {
    std::vector<std::string> lines{"UPGRADE PROCEDURE REPORT", kDashes, ""};
    for (const RowResult& row : result.rows) {
        if (row.reported)
            lines.push_back(row.type + (row.state == RowState::Ok ? "...OK" : "...FAILED"));
    }
    lines.push_back(kDashes);
    lines.push_back("Total retransmissions:" + std::to_string(result.retransmissions));
    lines.push_back("Total rewrites:" + std::to_string(result.rewrites));
    return lines;
}

std::string ReportVerdict(const RunResult& result) {
    return result.success() ? "Upgrade successful" : "Upgrade FAILED";
}

}  // namespace kv
