#include "cli/ConsoleUi.h"

#include <algorithm>

namespace kv::cli {

void ConsoleUi::setAnswer(Question question, MsgButton answer) {
    std::lock_guard lock(mutex_);
    answers_[question] = answer;
}

void ConsoleUi::clearAnswer(Question question) {
    std::lock_guard lock(mutex_);
    answers_.erase(question);
}

void ConsoleUi::setQuickBootload(bool on) {
    std::lock_guard lock(mutex_);
    quick_ = on;
}

bool ConsoleUi::quickBootload() const {
    std::lock_guard lock(mutex_);
    return quick_;
}

void ConsoleUi::setNextFile(const std::string& path) {
    std::lock_guard lock(mutex_);
    nextFile_ = path;
}

void ConsoleUi::setProgressSink(std::function<void(const ProgressEvent&)> sink) {
    std::lock_guard lock(mutex_);
    progressSink_ = std::move(sink);
}

void ConsoleUi::setMemoSink(std::function<void(const std::string&)> sink) {
    std::lock_guard lock(mutex_);
    memoSink_ = std::move(sink);
}

void ConsoleUi::planRows(std::vector<RowPlan> rows) {
    std::lock_guard lock(mutex_);
    plan_ = std::move(rows);
    planIndex_ = 0;
    rowStarted_ = false;
}

void ConsoleUi::resetCollected() {
    std::lock_guard lock(mutex_);
    messages_.clear();
    unanswered_.reset();
    report_.reset();
    status_.clear();
}

std::vector<std::string> ConsoleUi::messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

std::optional<ConsoleUi::Unanswered> ConsoleUi::unanswered() const {
    std::lock_guard lock(mutex_);
    return unanswered_;
}

std::optional<ConsoleUi::Report> ConsoleUi::report() const {
    std::lock_guard lock(mutex_);
    return report_;
}

std::string ConsoleUi::lastStatus() const {
    std::lock_guard lock(mutex_);
    return status_;
}

void ConsoleUi::memoLine(const std::string& line) {
    std::function<void(const std::string&)> sink;
    {
        std::lock_guard lock(mutex_);
        sink = memoSink_;
    }
    if (sink) sink(line);
}

void ConsoleUi::followStatus(const std::string& text) {
    for (std::size_t i = planIndex_; i < plan_.size(); ++i) {
        if (!plan_[i].type.empty() && text.find(plan_[i].type) != std::string::npos) {
            planIndex_ = i;
            return;
        }
    }
}

void ConsoleUi::statusText(const std::string& text) {
    std::lock_guard lock(mutex_);
    // A new phase of the row (erasing, then programming) fills the bar again from 0: the
    // time left is reckoned per phase.
    if (text != status_) rowStarted_ = false;
    status_ = text;
    followStatus(text);
}

void ConsoleUi::progress(int position, int maximum) {
    ProgressEvent event;
    std::function<void(const ProgressEvent&)> sink;
    {
        std::lock_guard lock(mutex_);
        sink = progressSink_;
        if (!sink || maximum <= 0) return;
        const int percent = std::clamp(position * 100 / maximum, 0, 100);
        event.percent = percent;
        event.status = status_;
        if (planIndex_ < plan_.size()) {
            const RowPlan& row = plan_[planIndex_];
            event.row = row.row;
            event.type = row.type;
            event.totalBytes = row.bytes;
            event.bytes = row.bytes * static_cast<std::uint64_t>(percent) / 100;
        }
        if (!rowStarted_) {
            rowStarted_ = true;
            rowStart_ = std::chrono::steady_clock::now();
        }
        if (percent > 0 && percent < 100) {
            const auto elapsed = std::chrono::steady_clock::now() - rowStart_;
            event.timeLeft = std::chrono::duration_cast<std::chrono::seconds>(
                elapsed * (100 - percent) / percent);
        } else if (percent == 100) {
            event.timeLeft = std::chrono::seconds(0);
        }
    }
    sink(event);
}

void ConsoleUi::messageBox(const std::string& text) {
    std::lock_guard lock(mutex_);
    messages_.push_back(text);
}

void ConsoleUi::errorBox(const std::string& text) {
    std::lock_guard lock(mutex_);
    messages_.push_back(text);
}

MsgButton ConsoleUi::ask(const std::string& text, DialogKind, const std::vector<MsgButton>& buttons,
                         int defaultIndex) {
    std::lock_guard lock(mutex_);
    const Question question = ClassifyQuestion(text);
    if (auto it = answers_.find(question); it != answers_.end()) return it->second;
    // Nobody is there to answer: the safe button, and the operation fails on it.
    if (!unanswered_) unanswered_ = Unanswered{question, text};
    if (std::optional<MsgButton> focused = focusedButton(buttons, defaultIndex)) return *focused;
    return buttons.empty() ? MsgButton::Cancel : buttons.back();
}

std::optional<std::string> ConsoleUi::openFile(const std::string&) {
    std::lock_guard lock(mutex_);
    std::optional<std::string> file = std::move(nextFile_);
    nextFile_.reset();
    return file;
}

void ConsoleUi::showReport(const std::vector<std::string>& lines, const std::string& verdict,
                           bool success) {
    std::lock_guard lock(mutex_);
    report_ = Report{lines, verdict, success};
}

}  // namespace kv::cli
