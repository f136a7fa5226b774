#pragma once

#include <cstdint>
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

// Every question the procedures ask, so that a front end answers by identity, never by
// the question's wording.
enum class QuestionId {
    ConnectDevice,       // "Do you want to establish connenction with the device?"
    ProtocolSwitch,      // "Protocol#2 is active! Do you want to switch ...?"
    ReleaseUnreachable,  // the device connected before no longer answers: release it anyway?
    RestoreUnreachable,  // the device to restore no longer answers: send what needs no link?
    ModifyPath,          // "Do you really want to modify the path?"
    ConfirmUpgrade,      // "Do you really want to upgrade?"
    ConfirmExit,         // "Do you really want to exit?"
    UsbUpgradeMode,      // put the USB device into its upgrade (bootloader) mode?
};

// What a run is doing, for progress shown in bytes rather than read from status texts.
enum class ProgressPhase { Connecting, Erasing, Programming, Verifying, Uploading, Restoring };

// One step of progress. `row` is the controller row being upgraded (-1 outside a row);
// `done` and `total` count bytes of the row's file that reached the device (an erase: the
// memory erased so far), 0 of 0 when a phase has no measure.
struct ProgressEvent {
    ProgressPhase phase = ProgressPhase::Connecting;
    int row = -1;
    std::uint64_t done = 0;
    std::uint64_t total = 0;
};

// Main-window elements whose enabled state the procedures change.
enum class UiElement {
    Upgrade,  // the UPGRADE button
    Find,     // the FIND button
    Grids,    // the controller grid with its check column
    ComTree,  // the COM port list
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

    virtual void memoLine(const std::string& line) = 0;  // the "Communication" memo
    virtual void statusText(const std::string& text) = 0;
    virtual void progress(int position, int maximum) = 0;
    // Phase and bytes of the running step; the window shows its progress bar instead.
    virtual void progressEvent(const ProgressEvent& /*event*/) {}
    virtual void busyText(const std::string& text) = 0;  // the busy overlay's caption
    virtual void busyVisible(bool visible) = 0;          // the busy overlay
    virtual void restartBusyTimer() = 0;  // the overlay's hiding timer: stop, then start
    virtual void stopBusyTimer() = 0;     // the overlay's hiding timer: stop
    virtual void deviceProperties(const DeviceProperties& properties) = 0;
    virtual void networkTree(const std::vector<std::string>& entries) = 0;
    virtual void comTree(const std::vector<std::string>& entries) = 0;
    virtual void usbList(const std::vector<UsbRow>& rows) = 0;
    virtual void controllerGrid(const std::vector<GridRow>& rows) = 0;
    virtual void enable(UiElement element, bool enabled) = 0;

    virtual void messageBox(const std::string& text) = 0;
    virtual void errorBox(const std::string& text) = 0;
    virtual MsgButton ask(QuestionId id, const std::string& text, DialogKind kind,
                          const std::vector<MsgButton>& buttons, int defaultIndex) = 0;
    // Open-file dialog; the filter is "Description (*.ext)|*.ext". Empty on Cancel.
    virtual std::optional<std::string> openFile(const std::string& filter) = 0;
    // Upgrade report window, shown modally: text lines and verdict.
    virtual void showReport(const std::vector<std::string>& lines, const std::string& verdict,
                            bool success) = 0;
    // Ends the program's window (after the close query allowed it).
    virtual void closeMainWindow() = 0;
    // State of the "Quick Bootload (checksum verification only)" check box.
    virtual bool quickBootload() const { return false; }
};

}  // namespace kv
