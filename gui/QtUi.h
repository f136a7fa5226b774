#pragma once

#include <atomic>

#include "core/Ui.h"

namespace kv::gui {

class MainWindow;
class ReportWindow;

// The Ui port on the Qt windows. The engine calls it from its own thread: display
// calls are queued to the GUI thread and return at once; questions, message boxes,
// the file dialog and the report window block the engine until the operator answered.
// Called on the GUI thread itself, everything runs directly.
class QtUi : public Ui {
  public:
    QtUi(MainWindow& main, ReportWindow& report);

    void memoLine(const std::string& line) override;
    void statusText(const std::string& text) override;
    void progress(int position, int maximum) override;
    void busyText(const std::string& text) override;
    void busyVisible(bool visible) override;
    void restartBusyTimer() override;
    void stopBusyTimer() override;
    void deviceProperties(const DeviceProperties& properties) override;
    void networkTree(const std::vector<std::string>& entries) override;
    void comTree(const std::vector<std::string>& entries) override;
    void usbList(const std::vector<UsbRow>& rows) override;
    void controllerGrid(const std::vector<GridRow>& rows) override;
    void enable(UiElement element, bool enabled) override;

    void messageBox(const std::string& text) override;
    void errorBox(const std::string& text) override;
    MsgButton ask(QuestionId id, const std::string& text, DialogKind kind,
                  const std::vector<MsgButton>& buttons, int defaultIndex) override;
    std::optional<std::string> openFile(const std::string& filter) override;
    void showReport(const std::vector<std::string>& lines, const std::string& verdict,
                    bool success) override;
    void closeMainWindow() override;

    // "Quick Bootload (checksum verification only)" as ticked now; safe from any thread.
    bool quickBootload() const { return quickBootload_.load(); }

    // The program is ending: from now on display calls are dropped and every question
    // gets its safe answer (the default button) at once, without a window; so does a
    // question whose box is closed afterwards.
    void shutDown() { down_.store(true); }
    bool isShutDown() const { return down_.load(); }

    // The answer given without asking once the program is ending.
    static MsgButton safeAnswer(const std::vector<MsgButton>& buttons, int defaultIndex);

  private:
    template <typename F>
    void post(F&& work);
    template <typename F>
    void call(F&& work);
    bool onGuiThread() const;

    MainWindow& main_;
    ReportWindow& report_;
    std::atomic<bool> quickBootload_{false};
    std::atomic<bool> down_{false};
};

}  // namespace kv::gui
