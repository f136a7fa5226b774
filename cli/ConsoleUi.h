#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/Ui.h"

namespace kv::cli {

// The Ui port without a window: questions are answered by their id from a table (never
// from a person), message and error boxes are collected, and progress events go to a
// callback. Called on the engine thread; the collected texts may be read from others.
class ConsoleUi : public Ui {
  public:
    // A question that no table entry answered.
    struct Unanswered {
        QuestionId id = QuestionId::ConfirmUpgrade;
        std::string text;
    };

    void setAnswer(QuestionId question, MsgButton answer);
    void clearAnswer(QuestionId question);
    void setProgressSink(std::function<void(const ProgressEvent&)> sink);
    void setMemoSink(std::function<void(const std::string&)> sink);

    // Cleared at the start of each operation.
    void resetCollected();
    std::vector<std::string> messages() const;
    std::optional<Unanswered> unanswered() const;

    void memoLine(const std::string& line) override;
    void statusText(const std::string&) override {}
    void progress(int, int) override {}
    void progressEvent(const ProgressEvent& event) override;
    void busyText(const std::string&) override {}
    void busyVisible(bool) override {}
    void restartBusyTimer() override {}
    void stopBusyTimer() override {}
    void deviceProperties(const DeviceProperties&) override {}
    void networkTree(const std::vector<std::string>&) override {}
    void comTree(const std::vector<std::string>&) override {}
    void usbList(const std::vector<UsbRow>&) override {}
    void controllerGrid(const std::vector<GridRow>&) override {}
    void enable(UiElement, bool) override {}

    void messageBox(const std::string& text) override;
    void errorBox(const std::string& text) override;
    MsgButton ask(QuestionId id, const std::string& text, DialogKind kind,
                  const std::vector<MsgButton>& buttons, int defaultIndex) override;
    // No file dialog without a window: files are chosen by ops::ChooseFile.
    std::optional<std::string> openFile(const std::string&) override { return std::nullopt; }
    // The report is the run result's (ops::Upgrade); nothing to show here.
    void showReport(const std::vector<std::string>&, const std::string&, bool) override {}
    void closeMainWindow() override {}

  private:
    mutable std::mutex mutex_;
    std::map<QuestionId, MsgButton> answers_;
    std::function<void(const ProgressEvent&)> progressSink_;
    std::function<void(const std::string&)> memoSink_;
    std::vector<std::string> messages_;
    std::optional<Unanswered> unanswered_;
};

}  // namespace kv::cli
