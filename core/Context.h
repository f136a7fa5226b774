#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Clock.h"
#include "core/Journal.h"
#include "core/LogFile.h"
#include "core/SharedState.h"
#include "core/Ui.h"
#include "core/ports/Ports.h"

namespace kv {

struct UsbState;
struct UpgradeState;

// What every procedure works with: the shared state, the log, the operator (Ui), the
// clock and the channel objects; plus the output operations all procedures use.
// Lives on the engine thread.
class Context {
  public:
    Context(SharedState& state, LogFile& log, Ui& ui, Clock& clock, Ports& ports);

    SharedState& state;
    LogFile& log;
    Ui& ui;
    Clock& clock;
    Ports& ports;
    // USB device list and HID link (discovery/UsbState.h); set by RegisterHidEvents.
    UsbState* usb = nullptr;
    // PIC link and HEX reader state of upgrade runs (upgrade/UpgradeState.h).
    UpgradeState* upgrade = nullptr;
    // The run journal (core/Journal.h); nullptr: none is kept.
    Journal* journal = nullptr;
    // The connected device as the journal knows it (kind None while none is open).
    DeviceKey journalKey() const;
    RestoreFacts restoreFacts() const;
    // Tells the journal that `change` is about to go out to `device` (the connected one
    // when not given); `normalSerial` is the module's setting before a set-up change.
    void journal_change(DeviceChange change, const std::string& normalSerial = {});
    void journal_change(const DeviceKey& device, DeviceChange change,
                        const std::string& normalSerial = {});
    // A row of a run starts on the connected device.
    void journal_row(int row, const std::string& type);
    // The restore of the connected device (or of `device`) ran: its entry is closed.
    void journal_restored();
    void journal_restored(const DeviceKey& device);
    // Keeps a subsystem's state alive as long as the context.
    void own(std::shared_ptr<void> object) { owned_.push_back(std::move(object)); }

    // A front end that can cut a run short (kvboot's Ctrl-C) sets this; the window does not.
    // The upgrade procedures look at it between frames and between rows.
    std::function<bool()> interruptCheck;
    bool interruptRequested() const { return interruptCheck && interruptCheck(); }
    // Throws Interrupted when an interrupt was requested.
    void checkInterrupt() const;

    // Quick Bootload (checksum verification only): set by a front end without the window's
    // check box, else the check box decides.
    std::optional<bool> quickBootloadChoice;
    bool quickBootload() const { return quickBootloadChoice.value_or(ui.quickBootload()); }

    // DebugSwitch is "ON": detail lines are written.
    bool detail() const { return state.DebugSwitch == "ON"; }

    void log_line(const std::string& text);
    // Log file and a new line of the communication memo.
    void log_and_show(const std::string& text);
    void show_status(const std::string& text);
    void set_progress(int position);
    void set_progress(int position, int maximum);
    int progressPosition() const { return progress_; }
    int progressMaximum() const { return progressMax_; }
    void message_box(const std::string& text);
    void error_box(const std::string& text);
    MsgButton ask(QuestionId id, const std::string& text, DialogKind kind,
                  const std::vector<MsgButton>& buttons, int defaultIndex);
    // Progress of the row being upgraded (progressRow), in bytes of its file.
    void report_progress(ProgressPhase phase, std::uint64_t done = 0, std::uint64_t total = 0);
    // The controller row a run is working on; -1 outside a row.
    int progressRow = -1;
    // Bytes of the row's file that reached the device so far (the last programming or
    // upload progress).
    std::uint64_t rowBytesDone = 0;

    // Marks the row being upgraded as failed (RowOk 0). The first reason given while a
    // row runs, or the first message or error box shown then, is the row's reason.
    void fail_row(const std::string& reason);
    // The row's reason so far; cleared when a row starts.
    std::string rowFailure;

    void sleep(std::chrono::milliseconds duration) { clock.sleep(duration); }
    // Delivers what arrived asynchronously: channel arrivals into RxBuffer, discovery
    // datagrams, HID reports and device changes. Never starts an operator action.
    void ProcessMessages();
    // A source polled by ProcessMessages (the subsystems register their handlers).
    void addEventSource(std::function<void()> source);

    // The busy overlay.
    void showBusy(const std::string& text);
    void setBusyText(const std::string& text);
    void hideBusy();

    // Push the mirrored lists to the window.
    void showDeviceProperties();
    void showNetworkTree();
    void showComTree();
    void showUsbList();
    void showControllerGrid();

  private:
    std::vector<std::function<void()>> sources_;
    std::vector<std::shared_ptr<void>> owned_;
    int progress_ = 0;
    int progressMax_ = 100;
};

}  // namespace kv
