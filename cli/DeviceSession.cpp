#include "cli/DeviceSession.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <exception>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>

#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

#include "PlatformClock.h"
#include "PlatformPorts.h"
#include "SharedUdpPort.h"
#include "actions/History.h"
#include "cli/ConsoleUi.h"
#include "core/ControllerGrid.h"
#include "core/Engine.h"
#include "core/LogFile.h"
#include "core/SharedState.h"
#include "core/ports/AccessDenied.h"
#include "core/ports/ChannelError.h"
#include "device/Channels.h"
#include "device/TextCommands.h"
#include "discovery/Discovery.h"
#include "discovery/UsbDeviceList.h"
#include "discovery/UsbState.h"
#include "flash/HidBootloader.h"
#include "records/RunJournal.h"
#include "upgrade/UpgradeRows.h"
#include "upgrade/UpgradeState.h"

namespace kv::cli {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string kNoDevice = "0.0.0.0";
constexpr auto kPumpRound = 20ms;
constexpr auto kTunnelProbeWait = 3000ms;

// UDP 30718 is one port per machine: the modules answer a query to the port it came from,
// and of several sockets sharing it only one gets a unicast answer. The sessions of one
// process share one socket (SharedUdpPort); several kvboot started at once on one machine
// (a playbook upgrading a site's devices in parallel) would take each other's answers, so
// processes take turns through a lock file, held while any session of the process is
// looking up. One that waited this long goes ahead as before.
constexpr auto kDiscoveryTurnWait = 120s;

class DiscoveryPortTurn {
  public:
    DiscoveryPortTurn() {
        std::lock_guard lock(turn().mutex);
        if (turn().users++ == 0) {
            turn().file = std::make_unique<QLockFile>(
                QDir(QDir::tempPath()).filePath(QStringLiteral("kvboot-udp-30718.lock")));
            // A lock left by a process that died is taken over at once.
            turn().file->setStaleLockTime(0);
            turn().file->tryLock(static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(kDiscoveryTurnWait).count()));
        }
    }
    ~DiscoveryPortTurn() {
        std::lock_guard lock(turn().mutex);
        if (--turn().users == 0) turn().file.reset();
    }
    DiscoveryPortTurn(const DiscoveryPortTurn&) = delete;
    DiscoveryPortTurn& operator=(const DiscoveryPortTurn&) = delete;

  private:
    // The process's turn: taken by its first session that looks up, given back by its last.
    struct Turn {
        std::mutex mutex;
        int users = 0;
        std::unique_ptr<QLockFile> file;
    };
    static Turn& turn() {
        static Turn shared;
        return shared;
    }
};

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string logFileName(const std::string& device) {
    if (device.empty()) return LogFile::kFileName;
    std::string name;
    for (unsigned char c : device) {
        const bool plain = std::isalnum(c) || c == '.' || c == '-' || c == '_';
        if (plain) {
            name += static_cast<char>(c);
        } else if (!name.empty() && name.back() != '_') {
            name += '_';
        }
    }
    while (!name.empty() && name.back() == '_') name.pop_back();
    return "logfile-" + (name.empty() ? std::string("device") : name) + ".txt";
}

std::string platformDataFolder() {
#ifdef _WIN32
    return qEnvironmentVariable("APPDATA").toStdString();
#else
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation).toStdString();
#endif
}

// The first word of a list entry is the device's address or port name.
std::optional<int> entryOf(const std::vector<std::string>& tree, const std::string& name) {
    for (std::size_t i = 0; i < tree.size(); ++i)
        if (tree[i].substr(0, tree[i].find(' ')) == name) return static_cast<int>(i);
    return std::nullopt;
}

// Message box texts joined for one line of output.
std::string joined(const std::vector<std::string>& messages) {
    std::string out;
    for (const auto& m : messages) {
        std::string line = m;
        for (char& c : line)
            if (c == '\r' || c == '\n') c = ' ';
        if (!out.empty()) out += "; ";
        out += line;
    }
    return out;
}

}  // namespace

std::string UnansweredText(const std::string& what, QuestionId id, const std::string& question) {
    const std::string flag = FlagFor(id);
    std::string text = what + " needs an answer to \"" + joined({question}) + "\"";
    text += flag.empty() ? " that no option gives" : "; give " + flag + " to answer Yes";
    return text;
}

struct DeviceSession::Impl {
    explicit Impl(SessionOptions o) : options(std::move(o)) {}

    SessionOptions options;
    SharedState state;
    LogFile log;
    ConsoleUi ui;
    PlatformClock ownClock;
    Clock* clock = options.clock ? options.clock : &ownClock;
    Ports ports;
    std::unique_ptr<PlatformPorts> platform;
    // This session's share of the process's one discovery socket (SharedUdpPort).
    std::unique_ptr<UdpSocket> discoveryPort;
    std::string appDataFolder;            // where the upgrade history goes
    HidBus* hid = nullptr;                // attached only for USB targets and discovery
    std::unique_ptr<RunJournal> journal;  // made once the data folder is known
    Context context{state, log, ui, *clock, ports};
    Engine engine{context};
    std::optional<ops::Recovery> lastRecovery;
    std::atomic<bool> interrupt{false};
    bool closed = false;
    bool connectedFlag = false;
    bool usbListed = false;
    std::vector<RowFile> expectedFiles;  // checked before a USB connect
    TargetKind kind = TargetKind::Network;
    std::string logPathText;
    // Progress: the types of the rows (by grid row) and when the current phase began.
    std::vector<std::string> rowTypes;
    ProgressPhase phase = ProgressPhase::Connecting;
    int phaseRow = -2;
    std::chrono::steady_clock::time_point phaseStart{};

    // Runs `work` on the engine thread and waits for it; its exceptions come back here.
    template <typename F>
    auto call(F work) -> decltype(work(std::declval<Context&>())) {
        using Result = decltype(work(std::declval<Context&>()));
        auto task = std::make_shared<std::packaged_task<Result(Context&)>>(std::move(work));
        std::future<Result> done = task->get_future();
        engine.post([task](Context& ctx) { (*task)(ctx); });
        return done.get();
    }

    void start() {
        context.interruptCheck = [this] { return interrupt.load(); };
        for (const auto& [question, answer] : options.answers) setAnswer(question, answer);
        if (options.onProgress) {
            ui.setProgressSink([this](const ProgressEvent& event) { progress(event); });
        }
        if (options.onMemo) ui.setMemoSink(options.onMemo);
        engine.start();

        ops::StartFolders folders;
        folders.platformDataFolder =
            options.platformDataFolder.empty() ? platformDataFolder() : options.platformDataFolder;
        folders.workingFolder = workingFolder();
        folders.logFileName = logFileName();
        // The window's package makes the log folder at installation; kvboot makes it here.
        std::error_code ignored;
        fs::create_directories(LogFile::appDataFolder(folders.platformDataFolder), ignored);
        call([this, folders](Context& ctx) {
            platform = std::make_unique<PlatformPorts>();
            ports = platform->ports();
            hid = ports.HidCtl;
            ports.HidCtl = nullptr;
            discoveryPort = SharedUdpPort::discovery().open();
            ports.IdUDPServer1 = discoveryPort.get();
            platform->setLogSink([&ctx](const std::string& line) { ctx.log_line(line); });
            ops::Start(ctx, folders);
            journal = OpenRunJournal(ctx.state.AppDataFolder);
            ctx.journal = journal.get();
            ops::SetQuickBootload(ctx, options.quickBootload);
            logPathText = ctx.log.path();
            appDataFolder = ctx.state.AppDataFolder;
        });
    }

    std::string workingFolder() const {
        return options.workingFolder.empty() ? "." : options.workingFolder;
    }
    std::string logFileName() const { return kv::cli::logFileName(options.deviceName); }

    void stop() {
        try {
            call([this](Context&) {
                ports = Ports{};
                discoveryPort.reset();
                platform.reset();
            });
        } catch (const std::exception&) {
            // The engine is gone already: nothing uses the channels now.
            ports = Ports{};
            discoveryPort.reset();
            platform.reset();
        }
        engine.stop();
    }

    void setAnswer(Question question, MsgButton answer) {
        for (QuestionId id : QuestionIdsOf(question)) ui.setAnswer(id, answer);
    }

    // A progress event as the front end shows it: percent and time left from real bytes,
    // the time left reckoned from when the phase began.
    void progress(const ProgressEvent& event) {
        const auto now = std::chrono::steady_clock::now();
        if (event.phase != phase || event.row != phaseRow) {
            phase = event.phase;
            phaseRow = event.row;
            phaseStart = now;
        }
        RowProgress view;
        view.phase = event.phase;
        view.row = event.row;
        if (event.row >= 0 && static_cast<std::size_t>(event.row) < rowTypes.size())
            view.type = rowTypes[static_cast<std::size_t>(event.row)];
        view.bytes = event.done;
        view.totalBytes = event.total;
        if (event.total > 0) {
            const std::uint64_t done = std::min(event.done, event.total);
            view.percent = static_cast<int>(done * 100 / event.total);
            if (done == event.total) {
                view.timeLeft = std::chrono::seconds(0);
            } else if (done > 0) {
                const auto elapsed = now - phaseStart;
                view.timeLeft = std::chrono::duration_cast<std::chrono::seconds>(
                    elapsed * static_cast<double>(event.total - done) / static_cast<double>(done));
            }
        }
        options.onProgress(view);
    }

    // The maker's USB devices attached now; the window lists them only when the bus
    // changes, a command line must see those plugged in before it started.
    void listUsbOnce(Context& ctx) {
        ctx.ports.HidCtl = hid;
        if (usbListed || !hid) return;
        usbListed = true;
        HidCtlDeviceChange(ctx);
    }

    bool recoveryFailed() const { return lastRecovery && !lastRecovery->restored; }

    SessionResult failure(SessionError error, std::string message) {
        return SessionResult{error, std::move(message)};
    }

    // What a finished procedure left behind, when it did not get where it should.
    SessionResult procedureFailure(const std::string& what) {
        if (auto question = ui.unanswered()) {
            return failure(SessionError::Question,
                           UnansweredText(what, question->id, question->text));
        }
        const std::vector<std::string> messages = ui.messages();
        return failure(SessionError::Failed,
                       messages.empty() ? what + " failed" : what + " failed: " + joined(messages));
    }

    // Pumps the engine's event sources for up to `wait`, until `done` holds.
    static void pumpUntil(Context& ctx, std::chrono::milliseconds wait,
                          const std::function<bool()>& done) {
        const auto end = ctx.clock.now() + wait;
        for (;;) {
            ctx.ProcessMessages();
            if (done() || ctx.clock.now() >= end) return;
            ctx.sleep(kPumpRound);
        }
    }

    SessionResult connectNetwork(Context& ctx, const Target& target, std::optional<HandleAs> as) {
        SharedState& s = ctx.state;
        std::optional<int> entry = entryOf(s.networkTree, target.address);
        if (!entry && target.tunnelPort) {
            ops::AddAddress(ctx, target.address, true, std::to_string(target.tunnelPort));
            entry = entryOf(s.networkTree, target.address);
        }
        if (!entry) {
            DiscoveryPortTurn turn;
            if (!StartDiscoveryListener(ctx)) {
                return failure(SessionError::Unreachable,
                               "UDP port 30718 cannot be opened (another program holds it); give "
                               "the tunnel port as " +
                                   target.address + ":PORT");
            }
            try {
                // The Add IP window's query: the answer adds the module to the lists.
                SendModuleQuery(ctx, target.address);
            } catch (const std::exception& e) {
                StopDiscoveryListener(ctx);
                return failure(SessionError::NotFound,
                               "cannot query " + target.address + ": " + e.what());
            }
            pumpUntil(ctx, options.discoveryWait,
                      [&] { return entryOf(s.networkTree, target.address).has_value(); });
            StopDiscoveryListener(ctx);
            entry = entryOf(s.networkTree, target.address);
        }
        if (!entry)
            return failure(SessionError::NotFound,
                           UnansweredLookup(target.address, options.discoveryWait));
        int port = target.tunnelPort;
        for (const auto& device : s.DeviceList)
            if (device.IP == target.address && device.Port) port = device.Port;
        TcpClient& tunnel = *ctx.ports.TcpClient1;
        tunnel.setHost(target.address);
        tunnel.setPort(port);
        const bool reachable = tunnel.connect(kTunnelProbeWait);
        Disconnect(tunnel);
        if (!reachable) {
            return failure(SessionError::Unreachable, "the device's tunnel " + target.address +
                                                          ":" + std::to_string(port) +
                                                          " does not accept a connection");
        }
        const ops::ConnectResult connected =
            as ? ops::ConnectAs(ctx, *as, *entry, -1) : ops::ConnectNetworkEntry(ctx, *entry);
        lastRecovery = connected.recovery;
        if (recoveryFailed()) return failure(SessionError::Unreachable, lastRecovery->message);
        if (!connected.connected() || connected.kind != ConnectionKind::Network ||
            s.CurrentIP != target.address) {
            return procedureFailure("connecting to " + target.address);
        }
        if (!connected.identified) {
            return failure(SessionError::Unreachable,
                           "the device behind " + target.address + " does not answer");
        }
        return {};
    }

    SessionResult connectSerial(Context& ctx, const Target& target, std::optional<HandleAs> as) {
        SharedState& s = ctx.state;
        if (ctx.ports.ComPort1 && ctx.ports.ComPort1->isOpen()) ClosePort(*ctx.ports.ComPort1);
        try {
            if (!ctx.ports.System || !ctx.ports.System->trySerialPort(target.address)) {
                return failure(SessionError::NotFound,
                               "the serial port " + target.address + " cannot be opened");
            }
        } catch (const AccessDenied& e) {
            return failure(SessionError::NotFound, e.what());
        }
        std::optional<int> entry = entryOf(s.comTree, target.address);
        if (!entry) {
            // As the COM port scan lists a port that opens.
            s.comTree.push_back(target.address);
            TMatrixRec device;
            device.IP = target.address;
            s.DeviceList.push_back(std::move(device));
            ctx.showComTree();
            entry = static_cast<int>(s.comTree.size() - 1);
        }
        const ops::ConnectResult connected =
            as ? ops::ConnectAs(ctx, *as, -1, *entry) : ops::ConnectSerialEntry(ctx, *entry);
        lastRecovery = connected.recovery;
        if (recoveryFailed()) return failure(SessionError::Unreachable, lastRecovery->message);
        const TMatrixRec* device = s.selectedDevice();
        if (!connected.connected() || connected.kind != ConnectionKind::Serial || !device ||
            device->IP != target.address) {
            return procedureFailure("connecting to " + target.address);
        }
        return {};
    }

    SessionResult connectUsb(Context& ctx, const Target& target) {
        SharedState& s = ctx.state;
        listUsbOnce(ctx);
        auto rowOf = [&]() -> std::optional<int> {
            for (std::size_t i = 0; i < s.usbRows.size(); ++i) {
                const UsbRow& row = s.usbRows[i];
                if (row.serial == target.address &&
                    (target.product.empty() || lower(row.product) == lower(target.product))) {
                    return static_cast<int>(i);
                }
            }
            return std::nullopt;
        };
        pumpUntil(ctx, options.discoveryWait, [&] { return rowOf().has_value(); });
        const std::optional<int> row = rowOf();
        if (!row) {
            std::string message = "no USB device of the maker with serial number " + target.address;
            if (ctx.usb) {
                for (const auto& [device, denied] : ctx.usb->denied)
                    if (device.serial == target.address) message += "; " + denied;
            }
            return failure(SessionError::NotFound, message);
        }
        // The connect puts the device into its bootloader: a file the upgrade would refuse
        // must not get that far.
        const FilesCheck files = CheckFilesBeforeConnect(
            expectedFiles, TargetKind::Usb, s.usbRows[static_cast<std::size_t>(*row)].product);
        if (!files.ok()) return files.result;
        const ops::ConnectResult connected = ops::ConnectUsbEntry(ctx, *row);
        lastRecovery = connected.recovery;
        if (recoveryFailed()) return failure(SessionError::Unreachable, lastRecovery->message);
        if (!connected.connected() || connected.kind != ConnectionKind::Usb) {
            return procedureFailure("connecting to USB device " + target.address);
        }
        return {};
    }
};

DeviceSession::DeviceSession(SessionOptions options)
    : impl_(std::make_unique<Impl>(std::move(options))) {
    impl_->start();
}

DeviceSession::~DeviceSession() {
    try {
        close();
    } catch (const std::exception&) {
        // The device could not be restored; the log says so. Nothing to tell anyone here.
    }
    impl_->stop();
}

DiscoveryResult DeviceSession::discover(std::chrono::milliseconds wait) {
    Impl& p = *impl_;
    return p.call([&p, wait](Context& ctx) {
        DiscoveryResult result;
        p.ui.resetCollected();
        p.listUsbOnce(ctx);
        {
            DiscoveryPortTurn turn;
            ops::Find(ctx);
            Impl::pumpUntil(ctx, wait, [] { return false; });
            StopDiscoveryListener(ctx);
        }
        const SharedState& s = ctx.state;
        for (const std::string& entry : s.networkTree) {
            const std::string address = entry.substr(0, entry.find(' '));
            for (const TMatrixRec& device : s.DeviceList) {
                if (device.IP != address) continue;
                result.modules.push_back({device.IP, device.MAC, device.Ident, device.Serial,
                                          device.ModuleVersion, device.Port});
                break;
            }
        }
        result.serialPorts = s.comTree;
        result.openEntries = ops::OpenJournalEntries(ctx);
        for (const UsbRow& row : s.usbRows) result.usb.push_back({row.product, row.serial});
        const std::vector<std::string> messages = p.ui.messages();
        if (!messages.empty() && result.modules.empty() && result.serialPorts.empty() &&
            result.usb.empty()) {
            result.result = {SessionError::Failed, joined(messages)};
        }
        return result;
    });
}

SessionResult DeviceSession::connect(const Target& target, std::optional<HandleAs> as) {
    Impl& p = *impl_;
    if (p.interrupt) return {SessionError::Interrupted, "interrupted"};
    if (as && Describe(*as).network != (target.kind == TargetKind::Network)) {
        return {SessionError::BadInput, "--as " + std::string(Describe(*as).name) + " is for " +
                                            (Describe(*as).network ? "network" : "serial") +
                                            " devices"};
    }
    if (as && target.kind == TargetKind::Usb) {
        return {SessionError::BadInput, "USB devices have no --as type"};
    }
    try {
        SessionResult result = p.call([&p, &target, as](Context& ctx) {
            p.ui.resetCollected();
            p.lastRecovery.reset();
            // A device whose restore does not answer is not connected: no question asked.
            p.ui.setAnswer(QuestionId::RestoreUnreachable, MsgButton::Cancel);
            p.ui.setAnswer(QuestionId::ConnectDevice, MsgButton::Yes);
            p.kind = target.kind;
            switch (target.kind) {
                case TargetKind::Network:
                    return p.connectNetwork(ctx, target, as);
                case TargetKind::Serial:
                    return p.connectSerial(ctx, target, as);
                case TargetKind::Usb:
                    return p.connectUsb(ctx, target);
            }
            return SessionResult{};
        });
        // A device the connect switched over (module set-up, bootloader) is released by
        // close() even when the inventory failed afterwards.
        p.connectedFlag = p.call([](Context& ctx) {
            return ctx.state.CurrentIP != kNoDevice ||
                   ctx.state.ConnectionKind != ConnectionKind::None;
        });
        if (result.ok() && p.interrupt) return {SessionError::Interrupted, "interrupted"};
        return result;
    } catch (const std::exception& e) {
        return {SessionError::Failed, e.what()};
    }
}

std::optional<std::size_t> FindRow(const std::vector<ControllerRow>& rows, const std::string& row) {
    if (IsRowNumber(row)) {
        const unsigned long n = row.size() > 6 ? rows.size() : std::stoul(row);
        if (n < rows.size()) return n;
        return std::nullopt;
    }
    for (const ControllerRow& r : rows) {
        if (lower(r.type) == lower(row)) return static_cast<std::size_t>(r.row);
    }
    return std::nullopt;
}

bool SameRowName(const std::string& a, const std::string& b) {
    return lower(a) == lower(b);
}

bool DeviceSession::connected() const {
    return impl_->connectedFlag;
}

std::optional<ops::Recovery> DeviceSession::recovered() const {
    return impl_->lastRecovery;  // written by connect(), which has returned
}

std::vector<ops::Recovery> DeviceSession::recover(const std::optional<Target>& target) {
    Impl& p = *impl_;
    return p.call([&p, &target](Context& ctx) {
        p.ui.resetCollected();
        std::vector<ops::Recovery> done;
        const std::vector<JournalEntry> entries = ops::OpenJournalEntries(ctx);
        for (const JournalEntry& entry : entries) {
            if (target && entry.device.id != target->address) continue;
            if (entry.device.kind == ConnectionKind::Usb) {
                // The device must be listed (claimed) before a report can go to it.
                p.listUsbOnce(ctx);
                Impl::pumpUntil(ctx, p.options.discoveryWait, [&] {
                    return std::any_of(
                        ctx.state.usbRows.begin(), ctx.state.usbRows.end(),
                        [&](const UsbRow& row) { return row.serial == entry.device.id; });
                });
            }
            done.push_back(ops::Recover(ctx, entry));
        }
        return done;
    });
}

JournalListing DeviceSession::journal() {
    Impl& p = *impl_;
    return p.call([&p](Context& ctx) {
        JournalListing listing;
        listing.open = ops::OpenJournalEntries(ctx);
        if (p.journal) listing.inUse = p.journal->heldEntries();
        return listing;
    });
}

DeviceInfo DeviceSession::device() const {
    Impl& p = *impl_;
    return p.call([&p](Context& ctx) {
        DeviceInfo info;
        const SharedState& s = ctx.state;
        info.name = s.properties.name;
        info.serial = s.properties.serial;
        info.address = s.properties.ip;
        info.mac = s.properties.mac;
        info.kind = p.kind;
        if (const TMatrixRec* device = ctx.state.selectedDevice()) {
            if (info.address.empty()) info.address = device->IP;
            info.ident = device->Ident;
            info.firmwareNumber = device->FwNumber;
            info.moduleVersion = device->ModuleVersion;
            info.lanVersion = device->LanVersion;
            info.tunnelPort = device->Port;
        }
        return info;
    });
}

std::vector<ControllerRow> DeviceSession::rows() const {
    return impl_->call([](Context& ctx) { return ops::ListRows(ctx); });
}

SessionResult DeviceSession::chooseFile(const std::string& row, const std::string& path) {
    Impl& p = *impl_;
    const std::vector<ControllerRow> list = rows();
    if (list.empty()) return {SessionError::BadInput, "no device is connected"};
    const std::optional<std::size_t> index = FindRow(list, row);
    if (!index) {
        std::string names;
        for (const ControllerRow& r : list) names += (names.empty() ? "" : ", ") + r.type;
        return {SessionError::BadInput, "the device has no row \"" + row + "\" (rows 0.." +
                                            std::to_string(list.size() - 1) + ": " + names + ")"};
    }
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) {
        return {SessionError::BadInput, "cannot read the file " + path};
    }
    if (std::ifstream probe(path, std::ios::binary); !probe) {
        return {SessionError::BadInput, "cannot read the file " + path};
    }
    const std::string absolute = fs::absolute(path, ec).lexically_normal().string();
    const ops::FileChoice choice =
        p.call([&absolute, index](Context& ctx) { return ops::ChooseFile(ctx, *index, absolute); });
    switch (choice.refusal) {
        case ops::FileRefusal::None:
            return {};
        case ops::FileRefusal::NoDevice:
        case ops::FileRefusal::NoSuchRow:
            return {SessionError::BadInput, "no device is connected"};
        case ops::FileRefusal::WrongKind:
            break;
    }
    // The window's file dialog offers only the row's kind of file; so does kvboot.
    return {SessionError::BadInput, "row " + std::to_string(*index) + " (" + list[*index].type +
                                        ") takes a " +
                                        std::string(Describe(choice.wanted).extension) +
                                        " file, not " + fs::path(absolute).filename().string()};
}

void DeviceSession::expectFiles(std::vector<RowFile> files) {
    impl_->expectedFiles = std::move(files);
}

void DeviceSession::setQuickBootload(bool on) {
    impl_->call([on](Context& ctx) { ops::SetQuickBootload(ctx, on); });
}

void DeviceSession::setAnswer(Question question, MsgButton answer) {
    impl_->setAnswer(question, answer);
}

UpgradeOutcome DeviceSession::upgrade(std::vector<RowResult> skipped) {
    Impl& p = *impl_;
    UpgradeOutcome outcome;
    if (p.interrupt) {
        outcome.interrupted = true;
        outcome.result = {SessionError::Interrupted, "interrupted before the upgrade started"};
        return outcome;
    }
    if (!p.connectedFlag) {
        outcome.result = {SessionError::BadInput, "no device is connected"};
        return outcome;
    }
    const auto started = std::chrono::steady_clock::now();
    try {
        ops::RecordedRun recorded = p.call([&p, &skipped](Context& ctx) {
            p.ui.resetCollected();
            p.rowTypes.clear();
            for (const ControllerRow& row : ops::ListRows(ctx)) p.rowTypes.push_back(row.type);
            // The restore asks when the device no longer answers; its answer changes nothing.
            p.ui.setAnswer(QuestionId::RestoreUnreachable, MsgButton::Yes);
            return ops::UpgradeWithRecord(ctx, "kvboot", std::move(skipped));
        });
        outcome.run = std::move(recorded.run);
        outcome.record = std::move(recorded.record);
    } catch (const std::exception& e) {
        outcome.result = {SessionError::Failed, e.what()};
    }
    outcome.duration = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started);
    outcome.interrupted = p.interrupt.load();
    const RunResult& run = outcome.run;
    if (!run.escapedError.empty()) {
        // An error that escaped the whole procedure (the window's general error display).
        outcome.result = {run.rows.empty() ? SessionError::Unreachable : SessionError::Failed,
                          run.escapedError};
    }
    switch (run.end) {
        case RunEnd::Completed:
            if (run.deviceSilent) {
                outcome.result = {SessionError::Unreachable,
                                  "the device does not answer its programming request"};
            }
            break;
        case RunEnd::NothingSelected:
        case RunEnd::Refused:
            outcome.result = {SessionError::BadInput,
                              "the upgrade failed: " + joined({run.refusal})};
            break;
        case RunEnd::Declined:
            outcome.result = p.procedureFailure("the upgrade");
            break;
    }
    if (outcome.interrupted) {
        outcome.result = {SessionError::Interrupted,
                          run.rows.empty()
                              ? "interrupted before the upgrade started"
                              : "interrupted: the rows not finished failed and the device was "
                                "restored"};
    }
    return outcome;
}

SessionResult DeviceSession::appendHistory(const UpgradeOutcome& outcome) {
    if (!outcome.record) return {};
    const std::string error = UpgradeHistory(impl_->appDataFolder).append(*outcome.record);
    if (error.empty()) return {};
    return {SessionError::Failed, "the upgrade history could not be written: " + error};
}

std::vector<std::string> UpgradeOutcome::report() const {
    if (run.end != RunEnd::Completed || (!run.escapedError.empty() && run.rows.empty())) return {};
    return ReportLines(run);
}

std::string UpgradeOutcome::verdict() const {
    return report().empty() ? std::string() : ReportVerdict(run);
}

void DeviceSession::requestInterrupt() {
    impl_->interrupt.store(true);
}

bool DeviceSession::interruptRequested() const {
    return impl_->interrupt.load();
}

SessionResult DeviceSession::close() {
    Impl& p = *impl_;
    if (p.closed) return {};
    p.closed = true;
    return p.call([&p](Context& ctx) -> SessionResult {
        p.ui.resetCollected();
        // A device that no longer answers still gets the release commands that need no
        // connection; leaving it as it is would leave it in its bootloader.
        p.ui.setAnswer(QuestionId::RestoreUnreachable, MsgButton::Yes);
        const bool wasConnected = ctx.state.CurrentIP != kNoDevice;
        const std::string address = ctx.state.CurrentIP;
        ops::Restore(ctx);
        ctx.log.close();
        if (ctx.ports.ComPort1 && ctx.ports.ComPort1->isOpen()) ClosePort(*ctx.ports.ComPort1);
        p.connectedFlag = false;
        const std::vector<std::string> messages = p.ui.messages();
        if (wasConnected && !messages.empty()) {
            return {SessionError::Unreachable,
                    "while releasing " + address + ": " + joined(messages)};
        }
        return {};
    });
}

SessionResult DeviceSession::readBack(const Target& target, std::optional<HandleAs> as,
                                      std::vector<ControllerRow>& rows) {
    Impl& p = *impl_;
    rows.clear();
    if (!p.closed) return {SessionError::BadInput, "the device is still connected"};
    // Nothing is written this time: the files need no second look.
    p.expectedFiles.clear();
    p.call([&p](Context& ctx) {
        (void)ctx.log.open(ctx.state.AppDataFolder, p.workingFolder(), p.logFileName());
        // A fresh look, as after FIND: the device is looked up and identified anew, so its
        // module's answer (the web server's version) is read again too. USB entries stay:
        // the bus lists them only when it changes.
        ctx.state.CurrentIP = kNoDevice;
        ctx.state.ConnectionKind = ConnectionKind::None;
        if (p.kind != TargetKind::Usb) ClearDeviceLists(ctx);
        StateReset(ctx);
    });
    p.closed = false;
    const SessionResult connected = connect(target, as);
    if (connected.ok()) rows = this->rows();
    const SessionResult closed = close();
    return connected.ok() ? closed : connected;
}

std::string DeviceSession::logPath() const {
    return impl_->logPathText;
}

std::vector<std::string> DeviceSession::messages() const {
    return impl_->ui.messages();
}

std::string AppDataFolderFor(const std::string& platformFolder) {
    return LogFile::appDataFolder(platformFolder.empty() ? platformDataFolder() : platformFolder);
}

std::string UnansweredLookup(const std::string& address, std::chrono::milliseconds wait) {
    std::ostringstream seconds;
    seconds << static_cast<double>(wait.count()) / 1000.0;
    return "no network module answered at " + address + " within " + seconds.str() +
           " s: check the address and that the device is powered and on this network; give "
           "the tunnel port as " +
           address +
           ":PORT to connect without the lookup, or raise the wait (--discovery-wait, "
           "\"discovery_wait\" in a plan)";
}

DiscoveryResult Discover(std::chrono::milliseconds wait, SessionOptions options) {
    if (options.deviceName.empty()) options.deviceName = "discover";
    DeviceSession session(std::move(options));
    DiscoveryResult result = session.discover(wait);
    session.close();
    return result;
}

}  // namespace kv::cli
