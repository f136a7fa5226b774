#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/SharedState.h"

namespace kv {

// Message box buttons; the numbering is the default-button index of ask().
enum class MsgButton : int {
    Yes = 0,
    No = 1,
    OK = 2,
    Cancel = 3,
    Abort = 4,
    Retry = 5,
    Ignore = 6,
    All = 7,
    NoToAll = 8,
    YesToAll = 9,
    Help = 10,
};

enum class DialogKind { Confirmation, Information, Warning, Error };

// Main-window elements whose enabled state the procedures change.
enum class UiElement {
    Upgrade,  // Panel1 / Image9
    Find,     // Panel2
    Grids,    // StringGrid1 + StringGrid2
    ComTree,  // TreeView2
};

// One row of the controller grid as shown: check cell and the five text columns.
struct GridRow {
    bool checked = false;
    std::string cells[5];
};

// The button that gets the keyboard focus: the default index when the box has that
// button, else none (the platform's own default stays).
std::optional<MsgButton> focusedButton(const std::vector<MsgButton>& buttons, int defaultIndex);

// Everything the engine shows to or asks of the operator. Calls come from the engine
// thread; the GUI adapter carries them to the GUI thread, and the question calls block
// the engine until the operator answered.
class Ui {
  public:
    virtual ~Ui() = default;

    virtual void memoLine(const std::string& line) = 0;  // UDPMemo
    virtual void statusText(const std::string& text) = 0;
    virtual void progress(int position, int maximum) = 0;
    virtual void busyText(const std::string& text) = 0;  // Panel8 caption
    virtual void busyVisible(bool visible) = 0;          // Panel8
    virtual void restartBusyTimer() = 0;                 // Timer1: stop, then start
    virtual void stopBusyTimer() = 0;                    // Timer1: stop
    virtual void deviceProperties(const DeviceProperties& properties) = 0;
    virtual void networkTree(const std::vector<std::string>& entries) = 0;
    virtual void comTree(const std::vector<std::string>& entries) = 0;
    virtual void usbList(const std::vector<UsbRow>& rows) = 0;
    virtual void controllerGrid(const std::vector<GridRow>& rows) = 0;
    virtual void enable(UiElement element, bool enabled) = 0;

    virtual void messageBox(const std::string& text) = 0;
    virtual void errorBox(const std::string& text) = 0;
    virtual MsgButton ask(const std::string& text, DialogKind kind,
                          const std::vector<MsgButton>& buttons, int defaultIndex) = 0;
    // Open-file dialog; the filter is "Description (*.ext)|*.ext". Empty on Cancel.
    virtual std::optional<std::string> openFile(const std::string& filter) = 0;
    // Upgrade report window, shown modally: text lines and verdict.
    virtual void showReport(const std::vector<std::string>& lines, const std::string& verdict,
                            bool success) = 0;
    // Ends the program's window (after the close query allowed it).
    virtual void closeMainWindow() = 0;
    // State of the "Quick Bootload (checksum verification only)" check box (CheckBox1).
    virtual bool quickBootload() const { return false; }
};

}  // namespace kv
