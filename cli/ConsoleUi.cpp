#include "cli/ConsoleUi.h"

namespace kv::cli {

void ConsoleUi::setAnswer(QuestionId question, MsgButton answer) {
    std::lock_guard lock(mutex_);
    answers_[question] = answer;
}

void ConsoleUi::clearAnswer(QuestionId question) {
    std::lock_guard lock(mutex_);
    answers_.erase(question);
}

void ConsoleUi::setProgressSink(std::function<void(const ProgressEvent&)> sink) {
    std::lock_guard lock(mutex_);
    progressSink_ = std::move(sink);
}

void ConsoleUi::setMemoSink(std::function<void(const std::string&)> sink) {
    std::lock_guard lock(mutex_);
    memoSink_ = std::move(sink);
}

void ConsoleUi::resetCollected() {
    std::lock_guard lock(mutex_);
    messages_.clear();
    unanswered_.reset();
}

std::vector<std::string> ConsoleUi::messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

std::optional<ConsoleUi::Unanswered> ConsoleUi::unanswered() const {
    std::lock_guard lock(mutex_);
    return unanswered_;
}

void ConsoleUi::memoLine(const std::string& line) {
    std::function<void(const std::string&)> sink;
    {
        std::lock_guard lock(mutex_);
        sink = memoSink_;
    }
    if (sink) sink(line);
}

void ConsoleUi::progressEvent(const ProgressEvent& event) {
    std::function<void(const ProgressEvent&)> sink;
    {
        std::lock_guard lock(mutex_);
        sink = progressSink_;
    }
    if (sink) sink(event);
}

void ConsoleUi::messageBox(const std::string& text) {
    std::lock_guard lock(mutex_);
    messages_.push_back(text);
}

void ConsoleUi::errorBox(const std::string& text) {
    std::lock_guard lock(mutex_);
    messages_.push_back(text);
}

MsgButton ConsoleUi::ask(QuestionId id, const std::string& text, DialogKind,
                         const std::vector<MsgButton>& buttons, int defaultIndex) {
    std::lock_guard lock(mutex_);
    if (auto it = answers_.find(id); it != answers_.end()) return it->second;
    // Nobody is there to answer: the safe button, and the operation fails on it.
    if (!unanswered_) unanswered_ = Unanswered{id, text};
    if (std::optional<MsgButton> focused = focusedButton(buttons, defaultIndex)) return *focused;
    return buttons.empty() ? MsgButton::Cancel : buttons.back();
}

}  // namespace kv::cli
