#include "FaultCampaign.h"

#include <Poco/Zip/Compress.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <sstream>

#include "CardBus.h"
#include "FakeFtpClient.h"
#include "FakeRig.h"
#include "FlashImageCheck.h"
#include "ModularCardSelect.h"
#include "NetworkModule.h"
#include "PicBootloader.h"
#include "PicCard.h"
#include "Scenario.h"
#include "Stm32BootControl.h"
#include "Stm32Bootloader.h"
#include "StmTestSupport.h"
#include "TftpReceiver.h"
#include "device/ChannelEvents.h"
#include "discovery/UsbDeviceList.h"
#include "flash/HidBootloader.h"
#include "flash/HidState.h"
#include "flash/PicLink.h"
#include "flash/StmLink.h"
#include "flash/StmProgram.h"
#include "flash/TftpFlashImage.h"
#include "flash/TftpPackets.h"
#include "flash/TftpUpload.h"
#include "flash/WebPackageUpload.h"
#include "upgrade/UpgradeProcedures.h"
#include "upgrade/UpgradeState.h"

namespace kv::campaign {

namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;
using test::FakeRig;
using Dialog = test::ScriptedUi::Dialog;

const std::string kIp = "127.0.0.2";
constexpr std::uint16_t kTunnelPort = 10001;
constexpr std::uint32_t kCardProgramStart = 0x0800;
constexpr std::uint32_t kStmFlashBase = 0x08000000;
const char* const kUnreachableStart = "The selected device is unreachable!";
const Bytes kFibreStart{0x0F, 0x0F, 0x02, 0x00, 0xFE, 0x04};
const std::string kWebRoot = "/mnt/flash/http";

// ---------------------------------------------------------------------------------------
// Files the runs choose.

// A PIC card's erase range as the card's bootloader is driven for its type.
struct EraseRange {
    std::uint32_t step, first, last;
};

EraseRange EraseRangeOf(const std::string& type) {
    if (type == "LNK-FBR-RC330-MAX") return {1024, 2048, 15359};
    if (type == "LNK-FBR-SN330-MAX") return {1024, 2048, 129984};
    return {64, 2048, 131008};
}

// A card image: identification at 0x0600 and 0x0710, program data from 0x0800 on in
// one or two stretches, sometimes without the leading extended address record and
// sometimes ending in configuration records.
struct CardImage {
    std::string text;
    std::map<std::uint32_t, std::uint8_t> program;  // what program memory must hold
};

CardImage MakeCardImage(std::mt19937_64& rng, const std::string& type, const std::string& hw) {
    auto pick = [&rng](std::uint32_t lo, std::uint32_t hi) {
        return std::uniform_int_distribution<std::uint32_t>(lo, hi)(rng);
    };
    CardImage image;
    const std::size_t recordLength = pick(0, 1) ? 16 : 8;
    if (pick(0, 3) != 0) image.text += test::hexLinear(0) + "\r\n";
    image.text += sim::HexRecordLine(0, 0x0600, test::textBytes(type, 32)) + "\r\n";
    image.text += sim::HexRecordLine(0, 0x0710, test::textBytes(hw, 16)) + "\r\n";
    const int stretches = static_cast<int>(pick(1, 2));
    std::uint32_t at = kCardProgramStart + 64 * pick(0, 8);
    for (int s = 0; s < stretches; ++s) {
        const std::size_t size = 8 * pick(4, 200);
        const Bytes data = test::pattern(size, static_cast<std::uint8_t>(pick(1, 250)));
        for (std::size_t i = 0; i < size; i += recordLength) {
            const std::size_t n = std::min(recordLength, size - i);
            image.text += sim::HexRecordLine(0, static_cast<std::uint16_t>(at + i),
                                             ByteView(data.data() + i, n)) +
                          "\r\n";
            for (std::size_t k = 0; k < n; ++k) image.program[at + i + k] = data[i + k];
        }
        at += static_cast<std::uint32_t>(size) + 64 * pick(1, 16);
    }
    if (pick(0, 2) == 0) {
        image.text += test::hexLinear(0x30) + "\r\n";
        image.text += sim::HexRecordLine(0, 0x0000, Bytes(8, 0x12)) + "\r\n";
    }
    image.text += sim::HexRecordLine(1, 0, {}) + "\r\n";
    return image;
}

// A USB device image: the product's string descriptor in the lines from 0x1800, data
// from 0x2000 to the top of the flash.
struct UsbImage {
    std::string text;
    std::map<std::uint32_t, std::uint8_t> bytes;
};

std::string usbLine(std::uint32_t address, const Bytes& data) {
    return sim::HexRecordLine(0, static_cast<std::uint16_t>(address), data) + "\r\n";
}

UsbImage MakeUsbImage(std::mt19937_64& rng, const std::string& product) {
    UsbImage image;
    Bytes low(0x0800, 0x00);
    Bytes descriptor{static_cast<std::uint8_t>(2 + 2 * product.size()), 0x03};
    for (char c : product) {
        descriptor.push_back(static_cast<std::uint8_t>(c));
        descriptor.push_back(0x00);
    }
    std::copy(descriptor.begin(), descriptor.end(), low.begin() + 0x40);
    for (std::uint32_t a = 0x1800; a < 0x2000; a += 16)
        image.text += usbLine(a, Bytes(low.begin() + (a - 0x1800), low.begin() + (a - 0x1800) + 16));
    const Bytes data =
        test::pattern(0x10000 - 0x2000, static_cast<std::uint8_t>(rng() % 250 + 1));
    for (std::uint32_t a = 0x2000; a < 0x10000; a += 16) {
        Bytes line(data.begin() + (a - 0x2000), data.begin() + (a - 0x2000) + 16);
        image.text += usbLine(a, line);
        for (std::uint32_t i = 0; i < 16; ++i) image.bytes[a + i] = line[i];
    }
    image.text += ":00000001FF\r\n";
    return image;
}

void writeText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// ---------------------------------------------------------------------------------------
// Fault hooks around the models.

// A UDP port whose answer to one datagram (numbered from 1) is lost; the datagram itself
// still reaches the device.
class LossyDatagramPort : public sim::DatagramPeer {
  public:
    LossyDatagramPort(sim::DatagramPeer& inner, int loseAnswerTo) : inner_(inner), lose_(loseAnswerTo) {}
    std::vector<Datagram> receive(const Datagram& fromTool) override {
        auto answers = inner_.receive(fromTool);
        if (++count_ == lose_ && !answers.empty()) {
            ++lost;
            return {};
        }
        return answers;
    }
    int lost = 0;

  private:
    sim::DatagramPeer& inner_;
    int lose_;
    int count_ = 0;
};

// The tunnel listener with one connection that the module drops after a given number
// of chunks (counted over every connection); later connections work again.
struct TunnelDrop {
    int dropAfterChunks = 0;
    int chunks = 0;
    int drops = 0;
};

class DroppingTunnel : public sim::StreamPeer {
  public:
    DroppingTunnel(std::unique_ptr<sim::StreamPeer> inner, TunnelDrop& drop)
        : inner_(std::move(inner)), drop_(drop) {}
    Bytes receive(ByteView data) override {
        if (dropped_) return {};
        if (++drop_.chunks == drop_.dropAfterChunks) {
            dropped_ = true;
            ++drop_.drops;
            return {};
        }
        return inner_->receive(data);
    }
    void lineChanged(const sim::LineSettings& line) override { inner_->lineChanged(line); }
    bool closed() const override { return dropped_ || inner_->closed(); }

  private:
    std::unique_ptr<sim::StreamPeer> inner_;
    TunnelDrop& drop_;
    bool dropped_ = false;
};

// A twisted-pair transmitter's own program on its line: the programming request restarts
// the CPU into its bootloader, which then has the line. A CPU that stays in its program
// (refuseBootloader) gives no answer.
class TransmitterProgram : public sim::StreamPeer {
  public:
    explicit TransmitterProgram(sim::Stm32Bootloader& cpu) : cpu_(cpu) {}
    Bytes receive(ByteView data) override {
        if (cpu_.inBootloader()) return cpu_.receive(data);
        heard_.append(data.begin(), data.end());
        const auto request = heard_.find(kRequest);
        if (request == std::string::npos) {
            // Only the tail can still start a request.
            if (heard_.size() > kRequest.size()) heard_.erase(0, heard_.size() - kRequest.size());
            return {};
        }
        heard_.clear();
        ++requests;
        cpu_.reset(true);
        if (!cpu_.inBootloader()) return {};
        return Bytes(kAccepted.begin(), kAccepted.end());
    }
    void lineChanged(const sim::LineSettings& line) override { cpu_.lineChanged(line); }
    int requests = 0;

  private:
    static constexpr std::string_view kRequest = "{P_PRGRQST}";
    static constexpr std::string_view kAccepted = "{P_PRGRQST_OK}";
    sim::Stm32Bootloader& cpu_;
    std::string heard_;
};

// What a run must leave as it was when it was refused: everything the device holds or
// has been told.
struct DeviceSnapshot {
    std::size_t sent = 0;  // everything the rig sent on any channel
    sim::LineSettings line{};
    int selectCode = -1;
    bool bootloaderMode = false;
    // Set-up records and GPIO datagrams taken in.
    std::size_t moduleMessages = 0;
    std::vector<std::vector<std::uint8_t>> memories;  // card program memories, USB flash
    Bytes cpuFlash;
    bool operator==(const DeviceSnapshot&) const = default;
};

// ---------------------------------------------------------------------------------------
// What a row must leave behind when it reads OK.

struct RowCheck {
    enum class Kind { Pic, Stm, TftpImage, WebPackage, Hid } kind = Kind::Pic;
    std::string type;
    bool selected = false;
    std::string file;
    sim::PicBootloader* pic = nullptr;
    std::map<std::uint32_t, std::uint8_t> program;  // PIC program bytes, USB flash bytes
    std::vector<test::HexSegment> segments;         // STM32 image
    std::string tftpSlot;                           // image rows
    Bytes image;
    Bytes firmware;                                 // web package
    std::map<std::string, std::string> content;     // web package: path below web root
};

// Budgets that make up a run's time bound. Each names the program's own waits that can
// add up in that step; a fault may turn one exchange into its worst case.
struct Budget {
    milliseconds total{0};
    void add(milliseconds m) { total += m; }
};

// The worst a single PIC exchange over the tunnel may cost: three attempts of the full
// reply wait, the reconnection before the last one and its bounded wait.
constexpr milliseconds kPicTunnelWorst =
    3 * (kPicTunnelReplyWait + 2 * kPicTunnelReplyGap) + 2 * kPicReconnectPause + 34s;
// The same on a COM port: first byte wait and the gap, three times.
constexpr milliseconds kPicSerialWorst = 3 * (kPicSerialFirstByteWait + 2 * kPicSerialReplyGap);
// An STM32 command that is never answered, over all block attempts.
constexpr milliseconds kStmWorst = kStmBlockAttempts * kStmCommandPolls * kStmCommandPoll;
// A TFTP upload that gets no answer, and the flash check after it.
constexpr milliseconds kTftpWorst = kTftpSendCount * kTftpAnswerWait + kFlashImageReplyWait;

class Run {
  public:
    explicit Run(std::uint64_t seed) : rng_(seed) { result.seed = seed; }

    RunResult go();

    RunResult result;

  private:
    std::uint32_t pick(std::uint32_t lo, std::uint32_t hi) {
        return std::uniform_int_distribution<std::uint32_t>(lo, hi)(rng_);
    }
    bool chance(int percent) { return pick(1, 100) <= static_cast<std::uint32_t>(percent); }

    void buildMatrix(bool direct);
    void buildModular();
    void buildPanel();
    void buildSerialFibre();
    void buildTransmitter();
    void buildUsb();

    void networkDevice(const std::string& ident, int fwNumber);
    std::unique_ptr<sim::PicBootloader> newCard(std::size_t eraseRow = 64) {
        sim::PicBootloader::Config config;
        config.eraseRowSize = eraseRow;
        config.initialFill = 0x00;  // old firmware: a row never erased shows
        return std::make_unique<sim::PicBootloader>(config);
    }
    void addCpu(sim::Stm32BootControl::Wiring wiring, sim::Stm32Bootloader::Entry entry);
    void addImageServices(bool webPackage);
    TControllerRec& addRow(const std::string& type, const std::string& hw = "");
    void choosePicFile(std::size_t index, sim::PicBootloader& pic);
    void chooseStmFile(std::size_t index);
    void chooseImageFile(std::size_t index, int kind);
    void chooseWebPackage(std::size_t index);

    void armFaults();
    bool arm(Fault fault);
    bool refuseFile();
    DeviceSnapshot snapshot() const;
    void checkRefused(const kv::RunResult& run);
    void checkRequestRefused(const kv::RunResult& run);
    void computeBound();
    void check();
    void violation(const std::string& text) { result.violations.push_back(text); }
    bool restored(std::string& why) const;

    std::mt19937_64 rng_;
    // Models first: the rig's world points into them and goes first.
    std::unique_ptr<sim::NetworkModule> module_;
    std::unique_ptr<sim::CardBus> bus_;
    std::unique_ptr<sim::Stm32Bootloader> cpu_;
    std::unique_ptr<sim::Stm32BootControl> boot_;
    std::unique_ptr<sim::ModularCardSelect> modularSelect_;
    std::vector<std::unique_ptr<sim::PicBootloader>> cards_;
    sim::DemoDevices demo_;
    std::unique_ptr<sim::TftpReceiver> tftp_;
    std::unique_ptr<sim::FlashImageCheck> flashCheck_;
    std::unique_ptr<sim::FlashImageCheckPeer> flashCheckPeer_;
    std::unique_ptr<test::FakeFtpClient> ftp_;
    std::unique_ptr<sim::HidBootloaderDevice> usb_;
    std::unique_ptr<TransmitterProgram> transmitter_;
    std::unique_ptr<LossyDatagramPort> lossyGpio_;
    TunnelDrop tunnelDrop_;
    std::unique_ptr<FakeRig> rig_ = std::make_unique<FakeRig>();

    sim::NetworkModule* netModule_ = nullptr;  // the device's module (network families)
    sim::LineSettings normalLine_{};          // its serial setting in normal operation
    std::vector<RowCheck> rows_;
    std::vector<Fault> applicable_;
    int pumps_ = 0;
    std::vector<std::function<void(int)>> onPump_;
    DeviceSnapshot before_;  // the device as the run found it
};

// ---------------------------------------------------------------------------------------
// Worlds.

void Run::networkDevice(const std::string& ident, int fwNumber) {
    auto& rig = *rig_;
    RegisterChannelEvents(rig.ctx);
    TMatrixRec& device = rig.addDevice(kIp, kTunnelPort);
    device.MAC = chance(50) ? "00-20-4A-01-02-03" : "00-80-A3-01-02-03";
    device.Ident = ident;
    rig.state.CurrentIP = kIp;
    rig.state.ConnectionKind = ConnectionKind::Network;
    rig.state.DeviceFwNumber = fwNumber;
    rig.state.AppDataFolder = (rig.folder / "appdata").string();
    std::filesystem::create_directories(rig.state.AppDataFolder);
    rig.ports.TcpClient1->setHost(kIp);
    rig.ports.TcpClient1->setPort(kTunnelPort);
}

TControllerRec& Run::addRow(const std::string& type, const std::string& hw) {
    auto& rows = rig_->state.DeviceList.back().Controllers;
    TControllerRec row;
    row.ControllerType = type;
    row.HardwareVersion = hw;
    rows.push_back(row);
    RowCheck c;
    c.type = type;
    rows_.push_back(c);
    return rows.back();
}

void Run::choosePicFile(std::size_t index, sim::PicBootloader& pic) {
    auto& row = rig_->state.DeviceList.back().Controllers[index];
    CardImage image = MakeCardImage(rng_, row.ControllerType, row.HardwareVersion);
    const auto path = rig_->folder / ("card" + std::to_string(index) + ".hex");
    writeText(path, image.text);
    row.Selected = true;
    row.FirmwareFile = path.string();
    RowCheck& c = rows_[index];
    c.kind = RowCheck::Kind::Pic;
    c.selected = true;
    c.file = path.string();
    c.pic = &pic;
    c.program = std::move(image.program);
}

void Run::chooseStmFile(std::size_t index) {
    auto& row = rig_->state.DeviceList.back().Controllers[index];
    std::vector<test::HexSegment> segments{
        {kStmFlashBase, test::pattern(4 * pick(16, 1200), static_cast<std::uint8_t>(pick(1, 250)))}};
    if (chance(40))
        segments.push_back({kStmFlashBase + 0x8000 + 4 * pick(0, 256),
                            test::pattern(4 * pick(1, 300), static_cast<std::uint8_t>(pick(1, 250)))});
    const auto path = rig_->folder / ("cpu" + std::to_string(index) + ".hex");
    writeText(path, test::makeHex(segments, chance(50) ? 16 : 32));
    row.Selected = true;
    row.FirmwareFile = path.string();
    RowCheck& c = rows_[index];
    c.kind = RowCheck::Kind::Stm;
    c.selected = true;
    c.file = path.string();
    c.segments = std::move(segments);
}

void Run::chooseImageFile(std::size_t index, int kind) {
    auto& row = rig_->state.DeviceList.back().Controllers[index];
    const Bytes image = test::pattern(pick(1, 6000), static_cast<std::uint8_t>(pick(1, 250)));
    const auto path = rig_->folder / ("image" + std::to_string(index) + ".rom");
    writeText(path, std::string(image.begin(), image.end()));
    row.Selected = true;
    row.FirmwareFile = path.string();
    RowCheck& c = rows_[index];
    c.kind = RowCheck::Kind::TftpImage;
    c.selected = true;
    c.file = path.string();
    c.image = image;
    c.tftpSlot = TftpRemoteName(kind);
}

void Run::chooseWebPackage(std::size_t index) {
    auto& rig = *rig_;
    auto& row = rig.state.DeviceList.back().Controllers[index];
    RowCheck& c = rows_[index];
    c.kind = RowCheck::Kind::WebPackage;
    c.selected = true;
    c.firmware = test::pattern(pick(1, 5000), static_cast<std::uint8_t>(pick(1, 250)));
    const int files = static_cast<int>(pick(1, 4));
    for (int i = 0; i < files; ++i) {
        const std::string name = (i % 2 ? "js/f" : "page") + std::to_string(i) + ".htm";
        c.content[name] = std::string(pick(1, 300), static_cast<char>('a' + i));
    }
    // The package: firmware.bin and the web content, packed in process.
    const auto staging = rig.folder / "package";
    std::filesystem::create_directories(staging / "webcontent" / "js");
    writeText(staging / "firmware.bin", std::string(c.firmware.begin(), c.firmware.end()));
    for (const auto& [name, text] : c.content) writeText(staging / "webcontent" / name, text);
    const auto path = rig.folder / "package.kvp";
    {
        std::ofstream out(path, std::ios::binary);
        Poco::Zip::Compress zip(out, true);
        zip.addFile(Poco::Path((staging / "firmware.bin").string()), Poco::Path("firmware.bin"));
        for (const auto& [name, text] : c.content)
            zip.addFile(Poco::Path((staging / "webcontent" / name).string()),
                        Poco::Path("webcontent/" + name));
        zip.close();
    }
    row.Selected = true;
    row.FirmwareFile = path.string();
    c.file = path.string();
}

void Run::addCpu(sim::Stm32BootControl::Wiring wiring, sim::Stm32Bootloader::Entry entry) {
    sim::Stm32Bootloader::Config config;
    config.autoBaud = sim::Stm32Bootloader::autoBaudOf(entry);
    config.startInBootloader = false;  // running its firmware until the tool resets it
    cpu_ = std::make_unique<sim::Stm32Bootloader>(config);
    boot_ = std::make_unique<sim::Stm32BootControl>(*cpu_, module_->gpio(), wiring);
}

void Run::addImageServices(bool webPackage) {
    auto& rig = *rig_;
    tftp_ = std::make_unique<sim::TftpReceiver>();
    rig.world.bindUdp(kIp, 69, tftp_.get());
    if (!webPackage) return;
    flashCheck_ = std::make_unique<sim::FlashImageCheck>(*tftp_);
    flashCheckPeer_ = std::make_unique<sim::FlashImageCheckPeer>(*flashCheck_);
    cpu_->setFirmware(flashCheckPeer_.get());
    ftp_ = std::make_unique<test::FakeFtpClient>();
    ftp_->addFolder(kWebRoot);
    ftp_->addFile(kWebRoot + "/old.htm", "old site");
    rig.ports.IdFTP1 = ftp_.get();
}

// The shift register value the device latches for a card row (the tool clocks in the
// row's select bits and its last bit; every edge shifts the register up by one).
std::uint16_t CardRegister(std::size_t row, const std::string& type) {
    std::vector<int> bits;
    int last = 0;
    switch (row) {
        case 1: bits = {5, 6}, last = 1; break;
        case 2: bits = {0, 5, 6}, last = 0; break;
        case 3:
            if (type == "PSV-AGG") bits = {0, 5, 6}, last = 1;
            else bits = {0, 1, 5, 6}, last = 0;
            break;
        case 4: bits = {1, 5, 6}, last = 0; break;
        case 5: bits = {1, 5, 6}, last = 1; break;
        default: bits = {0, 1, 5, 6}, last = 0; break;
    }
    std::uint16_t value = static_cast<std::uint16_t>(last);
    for (int b : bits) value = static_cast<std::uint16_t>(value | (1u << (b + 1)));
    return value;
}

void Run::buildMatrix(bool direct) {
    auto& rig = *rig_;
    sim::NetworkModule::Config config;
    config.address = kIp;
    normalLine_ = direct ? sim::LineSettings{57600, Parity::None} : sim::LineSettings{9600, Parity::None};
    config.serialLine = normalLine_;
    module_ = std::make_unique<sim::NetworkModule>(config);
    netModule_ = module_.get();
    addCpu(sim::Stm32BootControl::Wiring::ShiftRegister,
           direct ? sim::Stm32Bootloader::Entry::MatrixDirectSetup
                  : sim::Stm32Bootloader::Entry::MatrixBootloaderMode);
    bus_ = std::make_unique<sim::CardBus>(&module_->gpio());
    bus_->setDefault(cpu_.get());
    module_->setSerialDevice(bus_.get());
    module_->attach(rig.world);
    networkDevice(direct ? "RV6x6-2WQRI-Max" : "RV-FS64S", 312);
    rig.state.DirectSetupMatrix = direct;

    addRow("RV-CTL2", "HW:1.0");
    const std::vector<std::string> cardTypes{"RV-IN4", "RV-OUT4", "PSV-AGG"};
    const std::size_t cards = direct ? 1 : pick(1, 3);
    for (std::size_t k = 0; k < cards; ++k) {
        const std::size_t index = k + 1;
        addRow(cardTypes[k], "HW:1." + std::to_string(k));
        cards_.push_back(newCard());
        bus_->attachByShiftRegister(CardRegister(index, cardTypes[k]), cards_.back().get());
    }
    if (direct) {
        addRow("Web Server");
        addRow("Web Content");
    } else {
        addRow("Web Package");
    }
    addImageServices(!direct);

    auto& rows = rig.state.DeviceList.back().Controllers;
    // At least one row, each with a fair chance.
    do {
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (!chance(i + 1 == rows.size() && !direct ? 100 : 60)) continue;
            if (i == 0) chooseStmFile(0);
            else if (i <= cards) choosePicFile(i, *cards_[i - 1]);
            else if (!direct) { if (chance(60)) chooseWebPackage(i); }
            else chooseImageFile(i, i == rows.size() - 1 ? kTftpKindWebContent
                                                          : TftpWebServerKind(rig.state.DeviceList.back().MAC));
        }
    } while (std::none_of(rows.begin(), rows.end(), [](const auto& r) { return r.Selected; }));

    applicable_ = {Fault::LostUdpAnswer, Fault::TunnelDropped, Fault::SilentCard, Fault::Nack,
                   Fault::CorruptReadBack, Fault::RefusedWrite, Fault::DeviceStops,
                   Fault::TftpSilence, Fault::FileUnreadable};
    if (!direct) {
        applicable_.push_back(Fault::FlashCheckRefused);
        applicable_.push_back(Fault::FtpRefused);
    }
}

void Run::buildModular() {
    auto& rig = *rig_;
    sim::NetworkModule::Config config;
    config.address = kIp;
    normalLine_ = {57600, Parity::None};
    config.serialLine = normalLine_;
    module_ = std::make_unique<sim::NetworkModule>(config);
    netModule_ = module_.get();
    addCpu(sim::Stm32BootControl::Wiring::DirectLines, sim::Stm32Bootloader::Entry::Modular);
    bus_ = std::make_unique<sim::CardBus>(&module_->gpio());
    bus_->setDefault(cpu_.get());
    cards_.push_back(newCard());
    modularSelect_ = std::make_unique<sim::ModularCardSelect>(module_->gpio());
    bus_->attach(2, cards_.back().get());  // hears the line setting
    bus_->setRouter([this](const sim::CardBus::Selection&) {
        return modularSelect_->cardSelected() ? static_cast<sim::StreamPeer*>(cards_.back().get())
                                              : static_cast<sim::StreamPeer*>(cpu_.get());
    });
    module_->setSerialDevice(bus_.get());
    module_->attach(rig.world);
    networkDevice("NRV5x5", 312);
    rig.state.DirectSetupModular = chance(50);

    addRow("NRV-CTL", "HW:2.0");
    addRow("NRV-IO8", "HW:2.0");
    addRow("Web Server");
    addRow("Web Content");
    addImageServices(false);
    auto& rows = rig.state.DeviceList.back().Controllers;
    do {
        if (chance(60)) chooseStmFile(0);
        if (chance(60)) choosePicFile(1, *cards_[0]);
        if (chance(50)) chooseImageFile(2, TftpWebServerKind(rig.state.DeviceList.back().MAC));
        if (chance(50)) chooseImageFile(3, kTftpKindWebContent);
    } while (std::none_of(rows.begin(), rows.end(), [](const auto& r) { return r.Selected; }));
    applicable_ = {Fault::LostUdpAnswer, Fault::TunnelDropped, Fault::SilentCard, Fault::Nack,
                   Fault::CorruptReadBack, Fault::RefusedWrite, Fault::DeviceStops,
                   Fault::TftpSilence, Fault::FileUnreadable};
}

void Run::buildPanel() {
    auto& rig = *rig_;
    sim::DemoOptions options;
    options.family = sim::DemoFamily::UpgradablePanel;
    options.addresses = {kIp};
    options.webServer = false;
    demo_ = sim::buildDemoWorld(rig.world, options);
    netModule_ = demo_.modules.front().get();
    normalLine_ = {9600, Parity::None};
    networkDevice("RV-PNL16", 140);

    const std::vector<std::pair<std::string, std::string>> cards{{"RV-PNL16", "HW:1.0"},
                                                                 {"RV-BTN16", "HW:1.2"}};
    const int slots[] = {1, 3};
    for (std::size_t k = 0; k < cards.size(); ++k) {
        addRow(cards[k].first, cards[k].second).CardAddress = slots[k];
    }
    addRow("Web Server");
    auto& rows = rig.state.DeviceList.back().Controllers;
    do {
        for (std::size_t k = 0; k < cards.size(); ++k)
            if (chance(60)) choosePicFile(k, demo_.picCards[k]->bootloader);
        if (chance(50)) chooseImageFile(2, TftpWebServerKind(rig.state.DeviceList.back().MAC));
    } while (std::none_of(rows.begin(), rows.end(), [](const auto& r) { return r.Selected; }));
    applicable_ = {Fault::LostUdpAnswer, Fault::TunnelDropped, Fault::SilentCard,
                   Fault::CorruptReadBack, Fault::DeviceStops,  Fault::TftpSilence,
                   Fault::FileUnreadable};
}

void Run::buildSerialFibre() {
    auto& rig = *rig_;
    RegisterChannelEvents(rig.ctx);
    const std::string type = chance(50) ? "LNK-FBR-RC330-MAX" : "LNK-FBR-SN330-MAX";
    cards_.push_back(newCard(1024));
    rig.addSerialDevice(cards_.back().get());
    rig.com1.setBaud(19200);
    rig.state.CurrentIP = "0.0.0.0";
    // One card on the line; a second row (as a fibre link lists it) is a microcontroller
    // row as well, and only one of them is chosen.
    const std::size_t count = chance(30) ? 2 : 1;
    for (std::size_t i = 0; i < count; ++i) addRow(type, "HW:1.0");
    choosePicFile(count == 2 ? pick(0, 1) : 0, *cards_.back());
    applicable_ = {Fault::SilentCard, Fault::CorruptReadBack, Fault::DeviceStops,
                   Fault::FileUnreadable};
}

void Run::buildTransmitter() {
    auto& rig = *rig_;
    RegisterChannelEvents(rig.ctx);
    sim::Stm32Bootloader::Config config;
    config.line = {115200, Parity::Even};
    // Taken for a transmitter ("Handle as"), the device is in its bootloader already;
    // otherwise the run's programming request puts it there.
    const bool handledAs = chance(50);
    config.startInBootloader = handledAs;
    cpu_ = std::make_unique<sim::Stm32Bootloader>(config);
    transmitter_ = std::make_unique<TransmitterProgram>(*cpu_);
    rig.world.attachSerial("COM3", transmitter_.get());
    rig.com1.setName("COM3");
    rig.com1.open();
    rig.addDevice("COM3", 0);
    rig.state.ConnectionKind = ConnectionKind::Serial;
    rig.state.CurrentIP = "0.0.0.0";
    rig.state.TpTransmitterMode = handledAs;
    addRow("NRV-TW-SN500S", "HW:1.0");
    chooseStmFile(0);
    applicable_ = {Fault::Nack, Fault::CorruptReadBack, Fault::RefusedWrite, Fault::DeviceStops,
                   Fault::FileUnreadable};
}

void Run::buildUsb() {
    auto& rig = *rig_;
    RegisterHidEvents(rig.ctx);
    rig.ctx.ProcessMessages();
    usb_ = std::make_unique<sim::HidBootloaderDevice>("USB-SW", "SN1");
    usb_->infoText = "KV USB-SW HW:1.2 FW:2.0.1 BL:1.1";
    rig.hid.plug(*usb_);
    rig.clock.advance(kHidPollInterval);
    rig.ctx.ProcessMessages();
    int row = -1;
    for (std::size_t i = 0; i < rig.state.usbRows.size(); ++i)
        if (rig.state.usbRows[i].product == "USB-SW") row = static_cast<int>(i);
    rig.ui.answers.push_back(MsgButton::Yes);
    UsbDeviceChosen(rig.ctx, row);
    rig.ui.dialogs.clear();
    auto* rows = rig.state.selectedControllers();
    if (!rows || rows->empty()) {
        violation("the USB device could not be connected");
        return;
    }
    UsbImage image = MakeUsbImage(rng_, "USB-SW");
    const auto path = rig.folder / "usb.hex";
    writeText(path, image.text);
    rows->front().Selected = true;
    rows->front().FirmwareFile = path.string();
    RowCheck c;
    c.kind = RowCheck::Kind::Hid;
    c.type = rows->front().ControllerType;
    c.selected = true;
    c.file = path.string();
    c.program = std::move(image.bytes);
    rows_.push_back(std::move(c));
    applicable_ = {Fault::CorruptReadBack, Fault::DeviceStops, Fault::HidReportsLost,
                   Fault::FileUnreadable};
}

// ---------------------------------------------------------------------------------------
// Faults.

bool Run::arm(Fault fault) {
    auto& rig = *rig_;
    std::vector<sim::PicBootloader*> pics;
    for (const auto& c : rows_)
        if (c.selected && c.pic) pics.push_back(c.pic);
    // One of the chosen cards, at random (only when there is one).
    auto anyPic = [&]() -> sim::PicBootloader& {
        return *pics[pick(0, static_cast<std::uint32_t>(pics.size() - 1))];
    };
    const bool stmChosen = cpu_ && std::any_of(rows_.begin(), rows_.end(), [](const RowCheck& c) {
                               return c.selected && c.kind == RowCheck::Kind::Stm;
                           });
    bool armed = true;
    switch (fault) {
        case Fault::LostUdpAnswer: {
            auto* gpio = &netModule_->gpio();
            lossyGpio_ = std::make_unique<LossyDatagramPort>(*gpio, static_cast<int>(pick(1, 60)));
            rig.world.bindUdp(kIp, sim::ModuleGpio::kPort, lossyGpio_.get());
            break;
        }
        case Fault::TunnelDropped: {
            const auto& listeners = rig.world.tcpListeners();
            auto it = listeners.find({kIp, kTunnelPort});
            if (it == listeners.end()) return false;
            auto inner = it->second;
            tunnelDrop_.dropAfterChunks = static_cast<int>(pick(1, 2500));
            rig.world.listenTcp(kIp, kTunnelPort, [inner, this]() -> std::unique_ptr<sim::StreamPeer> {
                auto peer = inner();
                if (!peer) return nullptr;
                return std::make_unique<DroppingTunnel>(std::move(peer), tunnelDrop_);
            });
            break;
        }
        case Fault::SilentCard:
            if (pics.empty()) return false;
            anyPic().faults.dropReplyOfFrame = static_cast<int>(pick(1, 2500));
            break;
        case Fault::Nack:
            if (!stmChosen) return false;
            cpu_->faults.nackWriteFrom = static_cast<int>(pick(1, 40));
            break;
        case Fault::CorruptReadBack:
            if (usb_) {
                usb_->faults.corruptBlock = static_cast<int>(pick(0, 1790));
            } else if (stmChosen && (pics.empty() || chance(50))) {
                cpu_->faults.corruptReadFrom = static_cast<int>(pick(1, 40));
                cpu_->faults.corruptReadCount = static_cast<int>(pick(1, 3));
            } else if (!pics.empty()) {
                // Counted from the card's first read: one or two bad read-backs in a row.
                anyPic().faults.corruptReadBacks = static_cast<int>(pick(1, 2));
            } else {
                armed = false;
            }
            break;
        case Fault::RefusedWrite:
            if (!stmChosen) return false;
            cpu_->faults.nackWriteFrom = static_cast<int>(pick(1, 40));
            cpu_->faults.nackWriteCount = 100000;
            break;
        case Fault::DeviceStops:
            if (usb_) {
                usb_->faults.silentAfterVerifies = static_cast<int>(pick(0, 1790));
            } else if (stmChosen && (pics.empty() || chance(50))) {
                cpu_->faults.silentAfterCommands = static_cast<int>(pick(1, 60));
            } else if (!pics.empty()) {
                anyPic().faults.silentAfterFrames = static_cast<int>(pick(1, 2500));
            } else {
                armed = false;
            }
            break;
        case Fault::TftpSilence: {
            sim::TftpReceiver* tftp = tftp_ ? tftp_.get()
                                            : (demo_.tftpReceivers.empty() ? nullptr
                                                                            : demo_.tftpReceivers[0].get());
            const bool imageChosen = std::any_of(rows_.begin(), rows_.end(), [](const RowCheck& c) {
                return c.selected && (c.kind == RowCheck::Kind::TftpImage || c.kind == RowCheck::Kind::WebPackage);
            });
            if (!tftp || !imageChosen) return false;
            if (chance(25)) tftp->mode = sim::TftpReceiver::Mode::DropFirstCopy;
            else tftp->answerLimit = static_cast<int>(pick(0, 12));
            break;
        }
        case Fault::FlashCheckRefused:
            if (!flashCheck_ || !rows_.back().selected) return false;
            flashCheck_->mode = chance(50) ? sim::FlashImageCheck::Mode::Refuse
                                               : sim::FlashImageCheck::Mode::Silent;
            break;
        case Fault::FtpRefused:
            if (!ftp_ || !rows_.back().selected) return false;
            {
                const char* commands[] = {"USER root", "CWD /mnt/flash/http", "LIST", "DELE old.htm",
                                          "MKD js", "STOR page0.htm"};
                ftp_->refuse = commands[pick(0, 5)];
            }
            break;
        case Fault::FileUnreadable: {
            if (std::count(result.faults.begin(), result.faults.end(), Fault::FileRefused))
                return false;
            std::vector<std::string> files;
            for (const auto& c : rows_)
                if (c.selected && c.kind != RowCheck::Kind::WebPackage && c.kind != RowCheck::Kind::TftpImage)
                    files.push_back(c.file);
            if (files.empty()) return false;
            const std::string file = files[pick(0, static_cast<std::uint32_t>(files.size() - 1))];
            const int at = static_cast<int>(pick(1, 400));
            const bool lineBoundary = chance(50);
            const double keep = std::uniform_real_distribution<double>(0.05, 0.95)(rng_);
            onPump_.push_back([file, at, lineBoundary, keep](int pump) {
                if (pump != at) return;
                std::error_code ec;
                const auto size = std::filesystem::file_size(file, ec);
                if (ec) return;
                auto cut = static_cast<std::uintmax_t>(static_cast<double>(size) * keep);
                if (lineBoundary) {
                    std::ifstream in(file, std::ios::binary);
                    std::string text((std::istreambuf_iterator<char>(in)), {});
                    auto nl = text.rfind('\n', cut);
                    cut = nl == std::string::npos ? 0 : nl + 1;
                }
                std::filesystem::resize_file(file, cut, ec);
            });
            break;
        }
        case Fault::HidReportsLost:
            rig.hid.loseInputReport = rig.hid.inputReports + static_cast<int>(pick(1, 3600));
            break;
        case Fault::FileRefused:
            // A file cut short during the checks could lose the very record that is bad.
            if (std::count(result.faults.begin(), result.faults.end(), Fault::FileUnreadable))
                return false;
            return refuseFile();
        case Fault::RequestRefused:
            if (!stmChosen) return false;
            cpu_->faults.refuseBootloader = true;
            break;
    }
    return armed;
}

// One chosen HEX file made one the upgrade's checks refuse: a record with a wrong
// checksum, or a card image naming another controller type or hardware.
bool Run::refuseFile() {
    std::vector<RowCheck*> hex;
    for (auto& c : rows_)
        if (c.selected && c.kind != RowCheck::Kind::WebPackage &&
            c.kind != RowCheck::Kind::TftpImage)
            hex.push_back(&c);
    if (hex.empty()) return false;
    RowCheck& c = *hex[pick(0, static_cast<std::uint32_t>(hex.size() - 1))];
    const auto& row = rig_->state.DeviceList.back().Controllers;
    const auto index = static_cast<std::size_t>(&c - rows_.data());
    const int how = c.kind == RowCheck::Kind::Pic ? static_cast<int>(pick(0, 2)) : 0;
    if (how == 0) {
        std::ifstream in(c.file, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), {});
        // A digit of a record, chosen among the whole file's lines.
        std::vector<std::size_t> ends;
        for (auto at = text.find('\r'); at != std::string::npos; at = text.find('\r', at + 1))
            ends.push_back(at);
        if (ends.empty()) return false;
        char& digit = text[ends[pick(0, static_cast<std::uint32_t>(ends.size() - 1))] - 1];
        digit = digit == '0' ? '1' : '0';
        writeText(c.file, text);
        return true;
    }
    const std::string& type = row[index].ControllerType;
    const std::string& hw = row[index].HardwareVersion;
    writeText(c.file, how == 1 ? MakeCardImage(rng_, "XX-" + type, hw).text
                               : MakeCardImage(rng_, type, "HW:9.9").text);
    return true;
}

void Run::armFaults() {
    if (applicable_.empty()) return;
    const int count = static_cast<int>(pick(0, 100) < 15 ? 0 : pick(1, 2));
    // The web package's own failures only fit one family's one row: given a fair share.
    if (count > 0 && flashCheck_ && rows_.back().selected && chance(50)) {
        const Fault f = chance(50) ? Fault::FlashCheckRefused : Fault::FtpRefused;
        if (arm(f)) result.faults.push_back(f);
    }
    // Kinds that do not fit the rows chosen are drawn again, a few times at most.
    for (int tries = 0; tries < 8 && static_cast<int>(result.faults.size()) < count; ++tries) {
        Fault f = applicable_[pick(0, static_cast<std::uint32_t>(applicable_.size() - 1))];
        if (std::find(result.faults.begin(), result.faults.end(), f) != result.faults.end()) continue;
        if (arm(f)) result.faults.push_back(f);
    }
    rig_->ctx.addEventSource([this] {
        ++pumps_;
        for (auto& hook : onPump_) hook(pumps_);
    });
}

// ---------------------------------------------------------------------------------------
// The bound and the invariants.

void Run::computeBound() {
    Budget b;
    const bool network = rig_->state.ConnectionKind == ConnectionKind::Network;
    const int faults = static_cast<int>(result.faults.size());
    // The module's GPIO and set-up exchanges may each wait their whole answer time when
    // an answer is lost; restoring the device, the final pauses and the report.
    b.add(network ? 60s : 5s);
    for (const auto& c : rows_) {
        if (!c.selected) continue;
        switch (c.kind) {
            case RowCheck::Kind::Pic: {
                const EraseRange r = EraseRangeOf(c.type);
                const auto erases = (r.last - r.first) / r.step + 1;
                const auto blocks = c.program.size() / 8 + 8;
                // Each erase and each write/read-back pair costs at most a reply gap on a
                // live card; preparation waits and two bounded tunnel waits.
                b.add(network ? 50s + 2 * 34s : 5s);
                b.add((erases + 4 * blocks) * 2 * kPicTunnelReplyGap);
                break;
            }
            case RowCheck::Kind::Stm: {
                std::size_t bytes = 0;
                for (const auto& s : c.segments) bytes += s.data.size();
                const auto blocks = bytes / 256 + 2 * c.segments.size() + 2;
                // Bootloader entry (module restart, connection tries), erase, each block.
                b.add(network ? 60s + 10 * 4s + 10s : 5s);
                b.add(blocks * 2 * 100ms);
                break;
            }
            case RowCheck::Kind::TftpImage:
                b.add(15s + std::chrono::duration_cast<milliseconds>(
                                (c.image.size() / 512 + 2) * 100ms));
                break;
            case RowCheck::Kind::WebPackage:
                b.add(15s + kFlashImageReplyWait + 4 * (3s + 2s) + kFtpTimeout);
                break;
            case RowCheck::Kind::Hid:
                b.add(kHidReadyRounds * kHidPumpRound + kHidResetRounds * kHidPumpRound +
                      kHidEraseRounds * kHidEraseRound + 60s);
                break;
        }
    }
    // Each fault may turn one exchange of every kind into its worst case, several times
    // over where the program retries.
    const milliseconds worst = std::max({kPicTunnelWorst, kPicSerialWorst, kStmWorst, kTftpWorst,
                                         kHidTransferReplyWait, kFtpTimeout});
    b.add(faults * 3 * worst);
    result.bound = b.total;
}

// The device is back in normal operation: module out of bootloader mode, the main
// controller selected, its normal serial setting, and its CPU running its firmware.
bool Run::restored(std::string& why) const {
    if (!netModule_) return true;
    const auto& gpio = netModule_->gpio();
    if (gpio.bootloaderMode()) why += " module still in bootloader mode;";
    // Devices that pick cards by select code show code 7 (the main controller); behind
    // the others no card may be left on the serial side.
    if (!bus_ && gpio.selectCode() != 7)
        why += " select code " + std::to_string(gpio.selectCode()) + ";";
    if (bus_ && bus_->selected() != cpu_.get()) why += " a card is left on the serial line;";
    const auto line = netModule_->serialLine();
    if (!(line == normalLine_))
        why += " serial line " + std::to_string(line.baud) + (line.parity == Parity::None ? "N" : "P") + ";";
    if (cpu_ && cpu_->inBootloader()) why += " CPU left in its bootloader;";
    return why.empty();
}

DeviceSnapshot Run::snapshot() const {
    DeviceSnapshot now;
    now.sent = rig_->sentCount();
    if (netModule_) {
        now.line = netModule_->serialLine();
        now.selectCode = netModule_->gpio().selectCode();
        now.bootloaderMode = netModule_->gpio().bootloaderMode();
        now.moduleMessages = netModule_->storedRecords.size() + netModule_->gpio().messages.size();
    }
    for (const auto& c : rows_)
        if (c.pic) now.memories.push_back(c.pic->programMemory());
    if (cpu_) now.cpuFlash = cpu_->memory().flash();
    if (usb_) now.memories.emplace_back(usb_->memory().begin(), usb_->memory().end());
    return now;
}

// A refused run sent nothing: the device is as the run found it.
void Run::checkRefused(const kv::RunResult& run) {
    const bool refusedFile = std::find(result.faults.begin(), result.faults.end(),
                                       Fault::FileRefused) != result.faults.end();
    if (run.end != RunEnd::Refused) {
        if (refusedFile) violation("a file the checks refuse was not refused");
        return;
    }
    const DeviceSnapshot after = snapshot();
    if (after.sent != before_.sent)
        violation("a refused run sent " + std::to_string(after.sent - before_.sent) + " times");
    if (!(after == before_)) violation("a refused run changed the device");
    if (!rig_->ui.dialogsOf(Dialog::Report).empty()) violation("a refused run showed a report");
}

// A CPU that never entered its bootloader fails its row with a reason, keeps its flash,
// and the run still ends through its report (restored, checked by check()).
void Run::checkRequestRefused(const kv::RunResult& run) {
    if (std::find(result.faults.begin(), result.faults.end(), Fault::RequestRefused) ==
            result.faults.end() ||
        run.end != RunEnd::Completed) {
        return;
    }
    if (cpu_->memory().flash() != before_.cpuFlash)
        violation("a CPU that refused programming had its flash changed");
    for (const RowResult& row : run.rows) {
        if (row.row != 0) continue;  // the CPU's row (the transmitter's only one)
        if (row.state == RowState::Ok) violation(row.type + " reads OK though its CPU refused");
        if (row.state == RowState::Failed && row.reason.empty())
            violation(row.type + " failed without a reason");
    }
}

std::map<std::string, std::string> WebTree(const test::FakeFtpClient& ftp) {
    std::map<std::string, std::string> tree;
    for (const auto& [path, text] : ftp.files)
        if (path.rfind(kWebRoot + "/", 0) == 0) tree[path.substr(kWebRoot.size() + 1)] = text;
    return tree;
}

void Run::check() {
    auto& rig = *rig_;
    // A file spoiled before the run began its work is refused with the warning box, before
    // anything reaches the device.
    const kv::RunResult& run = upgradeState(rig.ctx).lastRun;
    checkRefused(run);
    if (run.end == RunEnd::Refused) return;
    checkRequestRefused(run);
    const auto reports = rig.ui.dialogsOf(Dialog::Report);
    if (reports.size() != 1) {
        violation("the run ended with " + std::to_string(reports.size()) + " report windows");
        return;
    }
    result.report = reports[0].text;
    std::vector<std::string> lines;
    {
        std::string text = reports[0].text;
        std::size_t from = 0;
        for (std::size_t at; (at = text.find("\r\n", from)) != std::string::npos; from = at + 2)
            lines.push_back(text.substr(from, at - from));
        lines.push_back(text.substr(from));
    }
    const std::string verdict = lines.back();
    std::vector<std::pair<std::string, bool>> rowLines;
    for (const auto& l : lines) {
        const auto ok = l.rfind("...OK");
        const auto failed = l.rfind("...FAILED");
        if (ok != std::string::npos && ok + 5 == l.size()) rowLines.emplace_back(l.substr(0, ok), true);
        if (failed != std::string::npos && failed + 9 == l.size())
            rowLines.emplace_back(l.substr(0, failed), false);
    }

    // Which rows the report speaks of, in list order.
    std::vector<const RowCheck*> attempted;
    for (const auto& c : rows_)
        if (c.selected) attempted.push_back(&c);
    const bool transmitter = result.family == Family::Transmitter;
    if (transmitter) {
        // This report has no row line: the verdict stands for the one row.
        rowLines.emplace_back(attempted[0]->type, verdict == "Upgrade successful");
    }
    if (rowLines.size() != attempted.size()) {
        violation("the report lists " + std::to_string(rowLines.size()) + " rows for " +
                  std::to_string(attempted.size()) + " chosen");
        return;
    }
    bool allOk = true;
    for (std::size_t i = 0; i < attempted.size(); ++i) {
        const RowCheck& c = *attempted[i];
        const auto& [type, ok] = rowLines[i];
        if (type != c.type) violation("report row " + std::to_string(i) + " is " + type + ", not " + c.type);
        allOk = allOk && ok;
        ok ? ++result.rowsOk : ++result.rowsFailed;
        if (!ok) continue;
        std::string wrong;
        switch (c.kind) {
            case RowCheck::Kind::Pic: {
                const auto& memory = c.pic->programMemory();
                const EraseRange r = EraseRangeOf(c.type);
                const std::uint32_t erased = r.first + r.step * ((r.last - r.first) / r.step + 1);
                const std::uint32_t end = std::min<std::uint32_t>(erased, static_cast<std::uint32_t>(memory.size()));
                for (std::uint32_t a = kCardProgramStart; a < end && wrong.empty(); ++a) {
                    auto it = c.program.find(a);
                    const std::uint8_t expected = it == c.program.end() ? 0xFF : it->second;
                    if (memory[a] != expected) {
                        char text[96];
                        std::snprintf(text, sizeof text, "card memory at 0x%05X is %02X, the file says %02X", a,
                                      memory[a], expected);
                        wrong = text;
                    }
                }
                for (const auto& [a, v] : c.program)
                    if (a >= end && wrong.empty() && (a >= memory.size() || memory[a] != v))
                        wrong = "card memory beyond the erase range differs from the file";
                break;
            }
            case RowCheck::Kind::Stm:
                if (cpu_->memory().flash() != test::flashImage(c.segments, cpu_->config().flashSize))
                    wrong = "CPU flash differs from the file";
                break;
            case RowCheck::Kind::TftpImage: {
                sim::TftpReceiver* tftp = tftp_ ? tftp_.get() : demo_.tftpReceivers[0].get();
                const auto image = tftp->image(c.tftpSlot);
                if (!image || *image != c.image) wrong = "module image " + c.tftpSlot + " differs from the file";
                break;
            }
            case RowCheck::Kind::WebPackage:
                if (!flashCheck_->flashed || *flashCheck_->flashed != c.firmware)
                    wrong = "the device did not flash the package's firmware.bin";
                else if (WebTree(*ftp_) != c.content)
                    wrong = "the web root does not hold the package's web content";
                break;
            case RowCheck::Kind::Hid:
                for (const auto& [a, v] : c.program)
                    if (a < static_cast<std::uint32_t>(kHidEndAddress) && usb_->memory()[a] != v) {
                        wrong = "USB flash differs from the file at " + std::to_string(a);
                        break;
                    }
                break;
        }
        if (!wrong.empty()) violation(c.type + " reads OK but " + wrong);
    }
    if ((verdict == "Upgrade successful") != allOk)
        violation("verdict \"" + verdict + "\" with " + (allOk ? "every row OK" : "a failed row"));
    if (verdict != "Upgrade successful" && verdict != "Upgrade FAILED")
        violation("no verdict: \"" + verdict + "\"");

    if (result.family == Family::SerialFibre) {
        const bool started = std::find(rig.com1.sent.begin(), rig.com1.sent.end(), kFibreStart) != rig.com1.sent.end();
        if (started != allOk) violation(started ? "a failed card was started" : "a good card was not started");
    }
    if (result.elapsed > result.bound)
        violation("the run took " + std::to_string(result.elapsed.count()) + " ms, bound " +
                  std::to_string(result.bound.count()) + " ms");
    std::string why;
    if (!restored(why)) {
        bool toldUnreachable = false;
        for (const auto& d : rig.ui.dialogsOf(Dialog::Ask))
            toldUnreachable = toldUnreachable || d.text.rfind(kUnreachableStart, 0) == 0;
        if (!toldUnreachable) violation("device not restored:" + why);
    }
    if (!rig.ui.enabled(UiElement::Upgrade)) violation("UPGRADE left disabled");
}

RunResult Run::go() {
    result.family = static_cast<Family>(pick(0, kFamilyCount - 1));
    switch (result.family) {
        case Family::Matrix: buildMatrix(false); break;
        case Family::DirectMatrix: buildMatrix(true); break;
        case Family::Modular: buildModular(); break;
        case Family::Panel: buildPanel(); break;
        case Family::SerialFibre: buildSerialFibre(); break;
        case Family::Transmitter: buildTransmitter(); break;
        case Family::Usb: buildUsb(); break;
    }
    if (!result.violations.empty()) return result;
    // Every family's HEX files can be refused; a programming request, wherever the run
    // itself brings an STM32 CPU into its bootloader.
    applicable_.push_back(Fault::FileRefused);
    if (cpu_ && !rig_->state.TpTransmitterMode) applicable_.push_back(Fault::RequestRefused);
    // The operator's Quick Bootload switch: the card checks each block's checksum only.
    rig_->ui.quickBootloadChecked = chance(25);
    armFaults();
    computeBound();

    auto& rig = *rig_;
    rig.ui.answers.push_back(MsgButton::Yes);
    before_ = snapshot();
    const auto start = rig.clock.elapsed();
    try {
        RunUpgrade(rig.ctx);
    } catch (const std::exception& e) {
        violation(std::string("an error escaped the run: ") + e.what());
    }
    result.elapsed = rig.clock.elapsed() - start;
    check();
    return result;
}

}  // namespace

std::string FamilyName(Family family) {
    static const char* const names[] = {"matrix", "direct-matrix", "modular", "panel",
                                        "serial-fibre", "transmitter", "usb"};
    return names[static_cast<int>(family)];
}

std::string FaultName(Fault fault) {
    static const char* const names[] = {"lost UDP answer",     "tunnel dropped",
                                        "silent card",         "NACK",
                                        "corrupted read-back", "refused write",
                                        "device stops",        "TFTP silence",
                                        "flash check refused", "FTP refused",
                                        "file cut short",      "HID report lost",
                                        "file refused",        "programming request refused"};
    return names[static_cast<int>(fault)];
}

RunResult RunOne(std::uint64_t seed) {
    Run run(seed);
    return run.go();
}

void CampaignTotals::add(const RunResult& run) {
    ++runs;
    ++families[static_cast<std::size_t>(run.family)];
    for (Fault f : run.faults) ++faults[static_cast<std::size_t>(f)];
    rowsOk += run.rowsOk;
    rowsFailed += run.rowsFailed;
    violations += static_cast<int>(run.violations.size());
    if (run.elapsed > longest) {
        longest = run.elapsed;
        longestBound = run.bound;
        longestSeed = run.seed;
    }
    if (run.bound.count() > 0)
        closestToBound = std::max(closestToBound, static_cast<double>(run.elapsed.count()) /
                                                      static_cast<double>(run.bound.count()));
    if (!run.violations.empty() && violating.size() < 10) violating.push_back(run);
}

std::string CampaignTotals::table() const {
    std::ostringstream out;
    char line[160];
    std::snprintf(line, sizeof line, "%-28s %10d\n", "runs", runs);
    out << line;
    for (int f = 0; f < kFamilyCount; ++f) {
        std::snprintf(line, sizeof line, "  family %-19s %10d\n", FamilyName(static_cast<Family>(f)).c_str(),
                      families[static_cast<std::size_t>(f)]);
        out << line;
    }
    out << "faults injected by kind\n";
    for (int f = 0; f < kFaultCount; ++f) {
        std::snprintf(line, sizeof line, "  %-26s %10d\n", FaultName(static_cast<Fault>(f)).c_str(),
                      faults[static_cast<std::size_t>(f)]);
        out << line;
    }
    std::snprintf(line, sizeof line, "%-28s %10d\n%-28s %10d\n%-28s %10d\n", "rows OK", rowsOk,
                  "rows FAILED", rowsFailed, "invariant violations", violations);
    out << line;
    std::snprintf(line, sizeof line, "%-28s %8.1f s (bound %.1f s, seed %llu)\n", "longest run",
                  static_cast<double>(longest.count()) / 1000.0,
                  static_cast<double>(longestBound.count()) / 1000.0,
                  static_cast<unsigned long long>(longestSeed));
    out << line;
    std::snprintf(line, sizeof line, "%-28s %10.2f\n", "largest share of its bound", closestToBound);
    out << line;
    return out.str();
}

std::string Describe(const RunResult& run) {
    std::ostringstream out;
    out << "seed " << run.seed << " (" << FamilyName(run.family) << "; faults:";
    for (Fault f : run.faults) out << " " << FaultName(f) << ";";
    out << " " << run.elapsed.count() << " ms of " << run.bound.count() << " ms)\n";
    for (const auto& v : run.violations) out << "  violation: " << v << "\n";
    out << "  report:\n" << run.report << "\n";
    return out.str();
}

}  // namespace kv::campaign
