#include "Scenario.h"

namespace kv::sim {

namespace {

constexpr LineSettings kCardLine{19200, Parity::None};

struct CardSpec {
    int slot;  // walk number (matrix), select code (panel); 0: on the bus itself
    const char* text;
};

struct FamilySpec {
    DemoFamily family;
    const char* name;
    const char* ident;
    const char* firmware;
    std::vector<CardSpec> cards;
};

const std::vector<FamilySpec>& families() {
    static const std::vector<FamilySpec> specs{
        {DemoFamily::Matrix,
         "matrix",
         "(I:RV-FS64S)",
         "(FW:3.1.2)",
         {{2, "RV-IN4 HW:1.0 FW:2.1.3 BL:1.0"}, {5, "RV-OUT4 HW:1.1 FW:2.0.7 BL:1.0"}}},
        {DemoFamily::DirectMatrix,
         "direct-matrix",
         "(I:RV6x6-2WQRI-Max)",
         "(FW:1.2.3)",
         {{1, "RV-IN6 HW:1.0 FW:1.0.9 BL:1.0"}, {7, "PSV_AGG HW:1.0 FW:1.0.2 BL:1.0"}}},
        {DemoFamily::Modular,
         "modular",
         "(I:NRV5x5)",
         "(FW:2.0.1)",
         {{0, "NRV-IO8 HW:2.0 FW:1.3.0 BL:1.1"}}},
        {DemoFamily::Panel,
         "panel",
         "(I:RV-PNL16)",
         "(FW:1.4.0)",
         {{1, "RV-PNL16 HW:1.0 FW:1.4.0 BL:1.0"}}},
        {DemoFamily::Serial,
         "serial",
         "(I:LNK-FBR-SN330-MAX)",
         "(FW:1.0.4)",
         {{0, "LNK-FBR-SN330-MAX HW:1.0 FW:1.0.4 BL:1.0"}}},
    };
    return specs;
}

const FamilySpec& specOf(DemoFamily family) {
    for (const auto& spec : families())
        if (spec.family == family) return spec;
    return families().front();
}

TextDevice& addController(DemoDevices& devices, const FamilySpec& spec, std::size_t index) {
    TextDevice::Config config;
    config.ident = spec.ident;
    config.firmware = spec.firmware;
    config.serial = "(S:KV" + std::to_string(1000 + index) + ")";
    devices.controllers.push_back(std::make_unique<TextDevice>(config));
    return *devices.controllers.back();
}

IdentCard& addCard(DemoDevices& devices, const char* text) {
    devices.cards.push_back(std::make_unique<IdentCard>(IdentCard::Config{text, kCardLine}));
    return *devices.cards.back();
}

}  // namespace

std::optional<DemoFamily> ParseDemoFamily(const std::string& name) {
    for (const auto& spec : families())
        if (name == spec.name) return spec.family;
    return std::nullopt;
}

std::string DemoFamilyName(DemoFamily family) {
    return specOf(family).name;
}

std::uint16_t MatrixCardRegister(int k) {
    return static_cast<std::uint16_t>(0xC0 | (k & 0x07));
}

DemoDevices buildDemoWorld(World& world, const DemoOptions& options) {
    DemoDevices devices;
    const FamilySpec& spec = specOf(options.family);

    if (options.family == DemoFamily::Serial) {
        devices.buses.push_back(std::make_unique<CardBus>());
        CardBus& bus = *devices.buses.back();
        bus.attachAlways(&addController(devices, spec, 0));
        for (const auto& card : spec.cards) bus.attachAlways(&addCard(devices, card.text));
        world.attachSerial(options.serialPort, &bus);
        return devices;
    }

    for (std::size_t i = 0; i < options.addresses.size(); ++i) {
        NetworkModule::Config config;
        config.address = options.addresses[i];
        config.mac[5] = static_cast<std::uint8_t>(0x11 + i);
        devices.modules.push_back(std::make_unique<NetworkModule>(config));
        NetworkModule& module = *devices.modules.back();
        devices.buses.push_back(std::make_unique<CardBus>(&module.gpio()));
        CardBus& bus = *devices.buses.back();
        TextDevice& controller = addController(devices, spec, i);
        bus.setDefault(&controller);
        for (const auto& card : spec.cards) {
            IdentCard& model = addCard(devices, card.text);
            switch (options.family) {
                case DemoFamily::Matrix:
                case DemoFamily::DirectMatrix:
                    bus.attachByShiftRegister(MatrixCardRegister(card.slot), &model);
                    break;
                case DemoFamily::Panel:
                    bus.attach(card.slot, &model);
                    break;
                default:
                    bus.attachAlways(&model);
                    break;
            }
        }
        // Select code 7 is the main controller in normal operation.
        if (options.family == DemoFamily::Panel) bus.attach(7, &controller);
        module.setSerialDevice(&bus);
        module.attach(world);
    }
    return devices;
}

}  // namespace kv::sim
