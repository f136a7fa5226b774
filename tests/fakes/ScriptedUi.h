#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/Ui.h"

namespace kv::test {

// A Ui that records everything the engine shows and answers questions from a script.
class ScriptedUi : public Ui {
  public:
    struct Dialog {
        enum Type { Message, Error, Ask, OpenFile, Report } type;
        std::string text;  // message text, question, file filter or report text
        std::vector<MsgButton> buttons;
        int defaultIndex = -1;
        std::optional<MsgButton> focused;
        MsgButton answer = MsgButton::OK;
    };

    // Answers for ask(), in order; when none is left, the focused button answers
    // (the platform's first button when nothing is focused).
    std::deque<MsgButton> answers;
    // Answers for openFile(); when none is left the dialog is cancelled.
    std::deque<std::string> files;

    std::vector<std::string> memo;
    std::vector<std::string> statusTexts;
    std::vector<std::pair<int, int>> progressValues;
    std::vector<std::string> busyTexts;
    bool busyShown = false;
    int busyTimerRestarts = 0;
    bool busyTimerRunning = true;       // Timer1 runs from the start
    std::function<void()> onBusyTimer;  // after each stop or restart of Timer1
    // After each progress event was recorded (a test may end the run there by throwing).
    std::function<void(const ProgressEvent&)> onProgressEvent;
    DeviceProperties properties;
    std::vector<std::string> networkEntries, comEntries;
    std::vector<UsbRow> usbRows;
    std::vector<GridRow> grid;
    std::vector<std::pair<UiElement, bool>> enables;
    std::vector<Dialog> dialogs;
    std::vector<QuestionId> questionIds;  // of every ask(), in order
    std::vector<ProgressEvent> progressEvents;
    bool closed = false;

    void memoLine(const std::string& line) override { memo.push_back(line); }
    void statusText(const std::string& text) override { statusTexts.push_back(text); }
    void progress(int position, int maximum) override {
        progressValues.emplace_back(position, maximum);
    }
    void progressEvent(const ProgressEvent& event) override {
        progressEvents.push_back(event);
        if (onProgressEvent) onProgressEvent(event);
    }
    void busyText(const std::string& text) override { busyTexts.push_back(text); }
    void busyVisible(bool visible) override { busyShown = visible; }
    void restartBusyTimer() override {
        ++busyTimerRestarts;
        busyTimerRunning = true;
        if (onBusyTimer) onBusyTimer();
    }
    void stopBusyTimer() override {
        busyTimerRunning = false;
        if (onBusyTimer) onBusyTimer();
    }
    void deviceProperties(const DeviceProperties& p) override { properties = p; }
    void networkTree(const std::vector<std::string>& e) override { networkEntries = e; }
    void comTree(const std::vector<std::string>& e) override { comEntries = e; }
    void usbList(const std::vector<UsbRow>& rows) override { usbRows = rows; }
    void controllerGrid(const std::vector<GridRow>& rows) override { grid = rows; }
    void enable(UiElement element, bool enabled) override {
        enables.emplace_back(element, enabled);
    }

    void messageBox(const std::string& text) override {
        dialogs.push_back(
            {Dialog::Message, text, {MsgButton::OK}, -1, MsgButton::OK, MsgButton::OK});
    }
    void errorBox(const std::string& text) override {
        dialogs.push_back({Dialog::Error, text, {MsgButton::OK}, -1, MsgButton::OK, MsgButton::OK});
    }
    MsgButton ask(QuestionId id, const std::string& text, DialogKind,
                  const std::vector<MsgButton>& buttons, int defaultIndex) override {
        questionIds.push_back(id);
        std::optional<MsgButton> focus = focusedButton(buttons, defaultIndex);
        MsgButton answer = focus ? *focus : (buttons.empty() ? MsgButton::OK : buttons.front());
        if (!answers.empty()) {
            answer = answers.front();
            answers.pop_front();
        }
        dialogs.push_back({Dialog::Ask, text, buttons, defaultIndex, focus, answer});
        return answer;
    }
    std::optional<std::string> openFile(const std::string& filter) override {
        Dialog d{Dialog::OpenFile, filter, {}, -1, std::nullopt, MsgButton::Cancel};
        std::optional<std::string> file;
        if (!files.empty()) {
            file = files.front();
            files.pop_front();
            d.answer = MsgButton::OK;
        }
        dialogs.push_back(d);
        return file;
    }
    void showReport(const std::vector<std::string>& lines, const std::string& verdict,
                    bool) override {
        std::string text;
        for (const auto& line : lines) text += line + "\r\n";
        dialogs.push_back(
            {Dialog::Report, text + verdict, {MsgButton::OK}, -1, MsgButton::OK, MsgButton::OK});
    }
    void closeMainWindow() override { closed = true; }
    bool quickBootload() const override { return quickBootloadChecked; }
    bool quickBootloadChecked = false;

    // Dialogs of one type, in order.
    std::vector<Dialog> dialogsOf(Dialog::Type type) const {
        std::vector<Dialog> out;
        for (const auto& d : dialogs)
            if (d.type == type) out.push_back(d);
        return out;
    }
    bool enabled(UiElement element) const {
        for (auto it = enables.rbegin(); it != enables.rend(); ++it)
            if (it->first == element) return it->second;
        return true;
    }
};

}  // namespace kv::test
