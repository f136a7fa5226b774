#pragma once

#include <memory>

#include "actions/Operations.h"

namespace kv::gui {

class MainWindow;
class AboutWindow;
class ReportWindow;
class AddIpWindow;
class QtUi;

// The running program: the four windows (created in the order main, About, report,
// Add IP), the Ui adapter, and the engine with the shared state, the log, the clock and
// the real channels. The channels are Qt objects of the engine thread, so they are made
// and destroyed there.
class Program {
  public:
    Program();
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Starts the engine (channels first, then the main window's creation handler) and
    // shows the main window.
    void start(const ops::StartFolders& folders);
    // Stops the engine after releasing the channels on its thread; the windows stay until
    // the Program is destroyed. Safe to call twice.
    void shutDown();
    // From now on SIGTERM and SIGHUP (the desktop session ending, a kill) end the program
    // as the close does after "Yes", without asking anyone: a running upgrade stops after
    // the frame in flight, the connected device is restored, the log closed and the main
    // window closes. One Program at a time may do this.
    void endOnSessionSignals();

    MainWindow& mainWindow();
    AboutWindow& aboutWindow();
    ReportWindow& reportWindow();
    AddIpWindow& addIpWindow();
    QtUi& ui();

  private:
    struct Components;
    std::unique_ptr<Components> components_;
};

}  // namespace kv::gui
