#include "core/Context.h"

#include <algorithm>

#include "core/ports/ChannelError.h"

namespace kv {

Context::Context(SharedState& s, LogFile& l, Ui& u, Clock& c, Ports& p)
    : state(s), log(l), ui(u), clock(c), ports(p) {}

void Context::checkInterrupt() const {
    if (interruptRequested()) throw Interrupted();
}

void Context::log_line(const std::string& text) {
    log.writeLine(text);
}

void Context::log_and_show(const std::string& text) {
    log.writeLine(text);
    ui.memoLine(text);
}

void Context::show_status(const std::string& text) {
    ui.statusText(text);
}

void Context::set_progress(int position) {
    set_progress(position, progressMax_);
}

void Context::set_progress(int position, int maximum) {
    progress_ = position;
    progressMax_ = maximum;
    ui.progress(position, maximum);
}

namespace {

// A box text on one line: its CR / LF breaks become blanks.
std::string oneLine(const std::string& text) {
    std::string line;
    for (char c : text) {
        if (c != '\r' && c != '\n') {
            line += c;
        } else if (!line.empty() && line.back() != ' ') {
            line += ' ';
        }
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

}  // namespace

void Context::fail_row(const std::string& reason) {
    state.RowOk = false;
    if (progressRow >= 0 && rowFailure.empty()) rowFailure = oneLine(reason);
}

void Context::message_box(const std::string& text) {
    if (progressRow >= 0 && rowFailure.empty()) rowFailure = oneLine(text);
    ui.messageBox(text);
}

void Context::error_box(const std::string& text) {
    if (progressRow >= 0 && rowFailure.empty()) rowFailure = oneLine(text);
    ui.errorBox(text);
}

MsgButton Context::ask(QuestionId id, const std::string& text, DialogKind kind,
                       const std::vector<MsgButton>& buttons, int defaultIndex) {
    return ui.ask(id, text, kind, buttons, defaultIndex);
}

void Context::report_progress(ProgressPhase phase, std::uint64_t done, std::uint64_t total) {
    if (phase == ProgressPhase::Programming || phase == ProgressPhase::Uploading)
        rowBytesDone = done;
    ui.progressEvent({phase, progressRow, done, total});
    if (journal && progressRow >= 0 && total > 0) {
        if (const DeviceKey key = journalKey(); key.valid()) journal->progress(key, done, total);
    }
}

DeviceKey Context::journalKey() const {
    DeviceKey key;
    const TMatrixRec* device = state.selectedDevice();
    switch (state.ConnectionKind) {
        case ConnectionKind::Usb:
            key.kind = ConnectionKind::Usb;
            key.id = device && !device->Serial.empty() ? device->Serial : state.properties.serial;
            return key;
        case ConnectionKind::Serial:
            key.kind = ConnectionKind::Serial;
            if (device) key.id = device->IP;
            return key;
        default:
            break;
    }
    if (state.CurrentIP == "0.0.0.0" || state.CurrentIP.empty()) return key;
    key.kind = ConnectionKind::Network;
    key.id = state.CurrentIP;
    if (device && device->IP == state.CurrentIP) key.mac = device->MAC;
    return key;
}

RestoreFacts Context::restoreFacts() const {
    RestoreFacts facts;
    const TMatrixRec* device = state.selectedDevice();
    facts.name = state.properties.name;
    if (facts.name.empty() && device) facts.name = device->Ident;
    facts.firmwareNumber = state.DeviceFwNumber;
    if (device && !device->Controllers.empty())
        facts.firstRow = device->Controllers.front().ControllerType;
    if (device) facts.tunnelPort = device->Port;
    facts.directSetupMatrix = state.DirectSetupMatrix;
    facts.directSetupModular = state.DirectSetupModular;
    return facts;
}

void Context::journal_change(DeviceChange change, const std::string& normalSerial) {
    journal_change(journalKey(), change, normalSerial);
}

void Context::journal_change(const DeviceKey& device, DeviceChange change,
                             const std::string& normalSerial) {
    if (!journal || !device.valid()) return;
    RestoreFacts facts = restoreFacts();
    facts.normalSerial = normalSerial;
    journal->deviceChanging(device, facts, change);
}

void Context::journal_row(int row, const std::string& type) {
    if (!journal) return;
    if (const DeviceKey key = journalKey(); key.valid()) journal->rowStarted(key, row, type);
}

void Context::journal_restored() {
    journal_restored(journalKey());
}

void Context::journal_restored(const DeviceKey& device) {
    if (journal && device.valid()) journal->restored(device);
}

void Context::ProcessMessages() {
    // Index loop: a source may register another one while it runs.
    for (std::size_t i = 0; i < sources_.size(); ++i) sources_[i]();
}

void Context::addEventSource(std::function<void()> source) {
    sources_.push_back(std::move(source));
}

void Context::showBusy(const std::string& text) {
    ui.busyText(text);
    ui.busyVisible(true);
}

void Context::setBusyText(const std::string& text) {
    ui.busyText(text);
}

void Context::hideBusy() {
    ui.busyVisible(false);
}

void Context::showDeviceProperties() {
    ui.deviceProperties(state.properties);
}
void Context::showNetworkTree() {
    ui.networkTree(state.networkTree);
}
void Context::showComTree() {
    ui.comTree(state.comTree);
}
void Context::showUsbList() {
    ui.usbList(state.usbRows);
}

void Context::showControllerGrid() {
    std::vector<GridRow> rows(std::max<std::size_t>(1, state.gridCells.size()));
    const auto* controllers = state.selectedControllers();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (i < state.gridCells.size()) {
            for (int c = 0; c < 5; ++c) rows[i].cells[c] = state.gridCells[i][c];
        }
        rows[i].checked = controllers && i < controllers->size() && (*controllers)[i].Selected;
    }
    ui.controllerGrid(rows);
}

}  // namespace kv
