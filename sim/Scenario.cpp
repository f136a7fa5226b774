#include "Scenario.h"

#include "FirmwareVersionTag.h"
#include "PicCard.h"
#include "TftpReceiver.h"

namespace kv::sim {

namespace {

constexpr LineSettings kCardLine{19200, Parity::None};
constexpr LineSettings kTextLine{9600, Parity::None};
constexpr LineSettings kTransmitterLine{57600, Parity::None};
// Select code 7 is the main controller in normal operation.
constexpr int kMainControllerCode = 7;
constexpr std::uint16_t kTftpPort = 69;
// The TFTP slots of the module's web server image (by MAC kind) and of its web content.
const std::string kWebServerSlots[] = {"X5", "X9"};
const std::string kWebContentSlot = "WEB1";

// How the device's hardware puts one card on the module's serial side.
enum class CardRouting {
    ShiftRegister,  // matrix frames: the latched register value names the walk number
    SelectCode,     // panels and other slot devices: the 3-bit select code
    ModularPulse,   // modular frames: the I/O card after a DATA pulse
    SerialBus,      // serial devices: every card hears the line
};

struct CardProfile {
    int slot;  // walk number (matrix), select code (panel, modular card number)
    CardWords words;
};

struct FamilyProfile {
    DemoFamily family;
    const char* name;
    const char* ident;
    const char* firmware;
    std::vector<CardProfile> cards;
    CardRouting routing;
    const char* protocol = "(Current protocol#1)";
    LineSettings controllerLine = kTextLine;
    bool silentController = false;
    bool silentCards = false;
    // Already in firmware upgrade mode: "{P_PRGRQST}" goes unanswered.
    bool inUpgradeMode = false;
    // The cards run a bootloader that takes firmware; the module takes TFTP images.
    bool upgradable = false;
    // The module also holds web content (slot devices that are not control panels).
    bool webContent = false;
};

const std::vector<FamilyProfile>& families() {
    static const std::vector<FamilyProfile> profiles{
        {.family = DemoFamily::Matrix,
         .name = "matrix",
         .ident = "(I:RV-FS64S)",
         .firmware = "(FW:3.1.2)",
         .cards = {{2, {"RV-IN4", "HW:1.0", "FW:2.1.3", "BL:1.0"}},
                   {5, {"RV-OUT4", "HW:1.1", "FW:2.0.7", "BL:1.0"}},
                   // Listed only at walk number 7: here it is skipped.
                   {3, {"PSV_AGG", "HW:1.0", "FW:1.0.2", "BL:1.0"}}},
         .routing = CardRouting::ShiftRegister},
        {.family = DemoFamily::DirectMatrix,
         .name = "direct-matrix",
         .ident = "(I:RV6x6-2WQRI-Max)",
         .firmware = "(FW:1.2.3)",
         .cards = {{1, {"RV-IN6", "HW:1.0", "FW:1.0.9", "BL:1.0"}},
                   {7, {"PSV_AGG", "HW:1.0", "FW:1.0.2", "BL:1.0"}}},
         .routing = CardRouting::ShiftRegister},
        {.family = DemoFamily::Modular,
         .name = "modular",
         .ident = "(I:NRV5x5)",
         .firmware = "(FW:2.0.1)",
         .cards = {{2, {"NRV-IO8", "HW:2.0", "FW:1.3.0", "BL:1.1"}}},
         .routing = CardRouting::ModularPulse},
        {.family = DemoFamily::Panel,
         .name = "panel",
         .ident = "(I:RV-PNL16)",
         .firmware = "(FW:1.4.0)",
         .cards = {{1, {"RV-PNL16", "HW:1.0", "FW:1.4.0", "BL:1.0"}},
                   {3, {"RV-BTN16", "HW:1.2", "FW:1.0.5", "BL:1.0"}}},
         .routing = CardRouting::SelectCode},
        {.family = DemoFamily::Serial,
         .name = "serial",
         .ident = "(I:LNK-FBR-SN330-MAX)",
         .firmware = "(FW:1.0.4)",
         .cards = {{0, {"LNK-FBR-SN330-MAX", "HW:1.0", "FW:1.0.4", "BL:1.0"}}},
         .routing = CardRouting::SerialBus},
        {.family = DemoFamily::DirectMatrixClassic,
         .name = "direct-matrix-classic",
         .ident = "(I:RV-6X6-2WQRI)",
         .firmware = "(FW:1.1.0)",
         .cards = {{2, {"RV-IN6", "HW:1.0", "FW:1.0.8", "BL:1.0"}},
                   {6, {"RV-OUT6", "HW:1.0", "FW:1.0.8", "BL:1.0"}}},
         .routing = CardRouting::ShiftRegister},
        {.family = DemoFamily::Panel32,
         .name = "panel32",
         .ident = "(I:RV-PNL32)",
         .firmware = "(FW:2.0.1)",
         .cards = {{1, {"RV-PNL32", "HW:2.0", "FW:2.0.1", "BL:1.1"}}},
         .routing = CardRouting::SelectCode},
        {.family = DemoFamily::Protocol2,
         .name = "protocol2",
         .ident = "(I:RV-FS64S)",
         .firmware = "(FW:3.1.2)",
         .cards = {{2, {"RV-IN4", "HW:1.0", "FW:2.1.3", "BL:1.0"}}},
         .routing = CardRouting::ShiftRegister,
         .protocol = "(Current protocol#2)"},
        {.family = DemoFamily::Silent,
         .name = "silent",
         .ident = "(I:RV-PNL16)",
         .firmware = "(FW:1.4.0)",
         .cards = {{1, {"RV-PNL16", "HW:1.0", "FW:1.4.0", "BL:1.0"}}},
         .routing = CardRouting::SelectCode,
         .silentController = true,
         .silentCards = true},
        {.family = DemoFamily::SerialTransmitter,
         .name = "serial-tp",
         .ident = "(I:NRV-TW-SN500S)",
         .firmware = "(FW:1.0.3)",
         .cards = {},
         .routing = CardRouting::SerialBus,
         .controllerLine = kTransmitterLine},
        {.family = DemoFamily::SerialUpgradeMode,
         .name = "serial-upgrade",
         .ident = "(I:LNK-FBR-SN330-MAX)",
         .firmware = "(FW:1.0.4)",
         .cards = {{0, {"LNK-FBR-SN330-MAX", "HW:1.0", "FW:1.0.4", "BL:1.0"}}},
         .routing = CardRouting::SerialBus,
         .silentController = true,
         .inUpgradeMode = true},
        {.family = DemoFamily::SerialFibreLink,
         .name = "serial-hqlx",
         .ident = "(I:HQLX-FBR)",
         .firmware = "(FW:2.0.0)",
         .cards = {},
         .routing = CardRouting::SerialBus},
        {.family = DemoFamily::UpgradablePanel,
         .name = "panel-upgrade",
         .ident = "(I:RV-PNL16)",
         .firmware = "(FW:1.4.0)",
         .cards = {{1, {"RV-PNL16", "HW:1.0", "FW:1.4.0", "BL:1.0"}},
                   {3, {"RV-BTN16", "HW:1.2", "FW:1.0.5", "BL:1.0"}}},
         .routing = CardRouting::SelectCode,
         .upgradable = true},
        {.family = DemoFamily::UpgradablePanel32,
         .name = "panel32-upgrade",
         .ident = "(I:RV-PNL32)",
         .firmware = "(FW:2.0.1)",
         .cards = {{1, {"RV-PNL32", "HW:2.0", "FW:2.0.1", "BL:1.1"}}},
         .routing = CardRouting::SelectCode,
         .upgradable = true},
        {.family = DemoFamily::UpgradableExtender,
         .name = "extender-upgrade",
         .ident = "(I:LNK-FBR-TX220)",
         .firmware = "(FW:1.2.0)",
         .cards = {{1, {"LNK-FBR-TX220", "HW:1.0", "FW:1.0.2", "BL:1.0"}}},
         .routing = CardRouting::SelectCode,
         .upgradable = true,
         .webContent = true},
        {.family = DemoFamily::UpgradableTransmitter,
         .name = "transmitter-upgrade",
         .ident = "(I:NRV-TW-TX500)",
         .firmware = "(FW:1.1.3)",
         .cards = {{1, {"NRV-TW-TX500", "HW:1.1", "FW:1.0.3", "BL:1.0"}},
                   {2, {"NRV-TW-IO2", "HW:1.0", "FW:1.0.1", "BL:1.0"}}},
         .routing = CardRouting::SelectCode,
         .upgradable = true,
         .webContent = true},
    };
    return profiles;
}

const FamilyProfile& profileOf(DemoFamily family) {
    for (const auto& profile : families())
        if (profile.family == family) return profile;
    return families().front();
}

TextDevice& addController(DemoDevices& devices, const FamilyProfile& profile, std::size_t index) {
    TextDevice::Config config;
    config.ident = profile.ident;
    config.firmware = profile.firmware;
    config.serial = "(S:KV" + std::to_string(1000 + index) + ")";
    config.protocol = profile.protocol;
    config.expectedLine = profile.controllerLine;
    if (profile.inUpgradeMode) config.programRequestReply.reset();
    devices.controllers.push_back(std::make_unique<TextDevice>(config));
    devices.controllers.back()->silent = profile.silentController;
    return *devices.controllers.back();
}

PicCard& addPicCard(DemoDevices& devices, const CardWords& words) {
    PicBootloader::Config bootloader;
    bootloader.expectedLine = kCardLine;
    bootloader.initialLine = kCardLine;
    bootloader.initialFill = kOldFirmwareFill;
    devices.picCards.push_back(
        std::make_unique<PicCard>(IdentCard::configFor(words, kCardLine), bootloader));
    return *devices.picCards.back();
}

IdentCard& addCard(DemoDevices& devices, const FamilyProfile& profile, const CardWords& words) {
    devices.cards.push_back(std::make_unique<IdentCard>(IdentCard::configFor(words, kCardLine)));
    devices.cards.back()->silent = profile.silentCards;
    return *devices.cards.back();
}

// The version text of a web image's tag without the "FW:" the inventory puts before it.
std::string bareVersion(const std::string& tagged) {
    return tagged.rfind("FW:", 0) == 0 ? tagged.substr(3) : tagged;
}

// The module restarts on every web image it takes: from then on it (and the device's own
// version lines) report the version the image carries, or the one it was made with.
void watchWebImages(TftpReceiver& tftp, NetworkModule& module, TextDevice& controller,
                    WebServer* web) {
    const std::uint8_t high = module.config().versionHigh;
    const std::uint8_t low = module.config().versionLow;
    const std::string content = web ? web->config.contentVersion : "";
    const std::vector<std::string> lines = controller.config.lanVersion;
    tftp.imageTaken = [=, &module, &controller](const std::string& slot, const Bytes& image) {
        const std::optional<std::string> tag = VersionTagAt(image, kWebVersionTagOffset);
        auto& lanVersion = controller.config.lanVersion;
        if (slot == kWebServerSlots[0] || slot == kWebServerSlots[1]) {
            const auto bytes = tag ? NetworkModule::parseVersionText(*tag) : std::nullopt;
            module.setVersion(bytes ? (*bytes)[0] : high, bytes ? (*bytes)[1] : low);
            if (lanVersion.size() > 2)
                lanVersion[2] = bytes ? "(SRV=" + bareVersion(*tag) + ")" : lines[2];
        } else if (slot == kWebContentSlot && web) {
            web->config.contentVersion = tag ? bareVersion(*tag) : content;
            if (lanVersion.size() > 1)
                lanVersion[1] = tag ? "(WEB=" + bareVersion(*tag) + ")" : lines[1];
        }
    };
}

}  // namespace

DemoDevices::DemoDevices() = default;
DemoDevices::~DemoDevices() = default;
DemoDevices::DemoDevices(DemoDevices&&) noexcept = default;
DemoDevices& DemoDevices::operator=(DemoDevices&&) noexcept = default;

std::optional<DemoFamily> ParseDemoFamily(const std::string& name) {
    for (const auto& profile : families())
        if (name == profile.name) return profile.family;
    return std::nullopt;
}

std::string DemoFamilyName(DemoFamily family) {
    return profileOf(family).name;
}

std::vector<std::string> DemoFamilyNames() {
    std::vector<std::string> names;
    for (const auto& profile : families()) names.emplace_back(profile.name);
    return names;
}

bool IsSerialFamily(DemoFamily family) {
    return profileOf(family).routing == CardRouting::SerialBus;
}

bool IsUpgradableFamily(DemoFamily family) {
    return profileOf(family).upgradable;
}

std::vector<CardWords> DemoFamilyCards(DemoFamily family) {
    std::vector<CardWords> words;
    for (const auto& card : profileOf(family).cards) words.push_back(card.words);
    return words;
}

bool HasWebContentRow(DemoFamily family) {
    return profileOf(family).webContent;
}

std::vector<DemoFamily> FleetFamilies() {
    return {DemoFamily::UpgradablePanel, DemoFamily::UpgradableExtender,
            DemoFamily::UpgradablePanel32, DemoFamily::UpgradableTransmitter};
}

std::uint16_t MatrixCardRegister(int k) {
    return static_cast<std::uint16_t>(0xC0 | (k & 0x07));
}

DemoDevices buildDemoWorld(World& world, const DemoOptions& options) {
    DemoDevices devices;
    const FamilyProfile& profile = profileOf(options.family);

    if (profile.routing == CardRouting::SerialBus) {
        devices.buses.push_back(std::make_unique<CardBus>());
        CardBus& bus = *devices.buses.back();
        bus.attachAlways(&addController(devices, profile, options.firstIndex));
        for (const auto& card : profile.cards)
            bus.attachAlways(&addCard(devices, profile, card.words));
        world.attachSerial(options.serialPort, &bus);
        return devices;
    }

    for (std::size_t n = 0; n < options.addresses.size(); ++n) {
        const std::size_t i = options.firstIndex + n;
        NetworkModule::Config config;
        config.address = options.addresses[n];
        config.mac[4] = static_cast<std::uint8_t>(0x0C + (i >> 8));
        config.mac[5] = static_cast<std::uint8_t>(0x11 + i);
        devices.modules.push_back(std::make_unique<NetworkModule>(config));
        NetworkModule& module = *devices.modules.back();
        devices.buses.push_back(std::make_unique<CardBus>(&module.gpio()));
        CardBus& bus = *devices.buses.back();
        TextDevice& controller = addController(devices, profile, i);
        bus.setDefault(&controller);
        for (const auto& card : profile.cards) {
            if (profile.upgradable && profile.routing == CardRouting::SelectCode) {
                bus.attach(card.slot, &addPicCard(devices, card.words));
                continue;
            }
            IdentCard& model = addCard(devices, profile, card.words);
            switch (profile.routing) {
                case CardRouting::ShiftRegister:
                    bus.attachByShiftRegister(MatrixCardRegister(card.slot), &model);
                    break;
                case CardRouting::SelectCode:
                    bus.attach(card.slot, &model);
                    break;
                case CardRouting::ModularPulse: {
                    devices.cardSelects.push_back(
                        std::make_unique<ModularCardSelect>(module.gpio()));
                    const ModularCardSelect* select = devices.cardSelects.back().get();
                    // Attached by its card number so that it hears the line setting.
                    bus.attach(card.slot, &model);
                    bus.setRouter([select, &model, &controller](const CardBus::Selection&) {
                        return select->cardSelected() ? static_cast<StreamPeer*>(&model)
                                                      : &controller;
                    });
                    break;
                }
                case CardRouting::SerialBus:
                    bus.attachAlways(&model);
                    break;
            }
        }
        if (profile.routing == CardRouting::SelectCode)
            bus.attach(kMainControllerCode, &controller);
        module.setSerialDevice(&bus);
        module.attach(world);
        WebServer* web = nullptr;
        if (options.webServer) {
            devices.webServers.push_back(std::make_unique<WebServer>(
                WebServer::Config{config.address, kDemoContentVersion}));
            web = devices.webServers.back().get();
            web->attach(world);
        }
        if (profile.upgradable) {
            devices.tftpReceivers.push_back(std::make_unique<TftpReceiver>());
            world.bindUdp(config.address, kTftpPort, devices.tftpReceivers.back().get());
            watchWebImages(*devices.tftpReceivers.back(), module, controller, web);
        }
    }
    return devices;
}

}  // namespace kv::sim
