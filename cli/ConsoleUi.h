#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/DeviceSession.h"
#include "core/Ui.h"

namespace kv::cli {

// The Ui port without a window: questions are answered from a table (never from a person),
// message and error boxes are collected, the report is kept, and progress goes to a
// callback. Called on the engine thread; the collected texts may be read from others.
class ConsoleUi : public Ui {
  public:
    // A question that no table entry answered.
    struct Unanswered {
        Question question = Question::Other;
        std::string text;
    };
    struct Report {
        std::vector<std::string> lines;
        std::string verdict;
        bool success = false;
    };
    // What the progress of a row is measured against.
    struct RowPlan {
        int row = -1;
        std::string type;
        std::uint64_t bytes = 0;
    };

    void setAnswer(Question question, MsgButton answer);
    void clearAnswer(Question question);
    void setQuickBootload(bool on);
    // The next open-file dialog answers this path (once).
    void setNextFile(const std::string& path);
    void setProgressSink(std::function<void(const ProgressEvent&)> sink);
    void setMemoSink(std::function<void(const std::string&)> sink);
    // The rows of the coming upgrade, in the order the procedure runs them.
    void planRows(std::vector<RowPlan> rows);

    // Cleared at the start of each operation.
    void resetCollected();
    std::vector<std::string> messages() const;
    std::optional<Unanswered> unanswered() const;
    std::optional<Report> report() const;
    std::string lastStatus() const;

    void memoLine(const std::string& line) override;
    void statusText(const std::string& text) override;
    void progress(int position, int maximum) override;
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
    MsgButton ask(const std::string& text, DialogKind kind, const std::vector<MsgButton>& buttons,
                  int defaultIndex) override;
    std::optional<std::string> openFile(const std::string& filter) override;
    void showReport(const std::vector<std::string>& lines, const std::string& verdict,
                    bool success) override;
    void closeMainWindow() override {}
    bool quickBootload() const override;

  private:
    // The planned row a status text names ("Erasing <type>...", "Upgrading <type>...").
    void followStatus(const std::string& text);

    mutable std::mutex mutex_;
    std::map<Question, MsgButton> answers_;
    bool quick_ = false;
    std::optional<std::string> nextFile_;
    std::function<void(const ProgressEvent&)> progressSink_;
    std::function<void(const std::string&)> memoSink_;
    std::vector<std::string> messages_;
    std::optional<Unanswered> unanswered_;
    std::optional<Report> report_;
    std::string status_;
    std::vector<RowPlan> plan_;
    std::size_t planIndex_ = 0;
    bool rowStarted_ = false;
    std::chrono::steady_clock::time_point rowStart_{};
};

}  // namespace kv::cli
