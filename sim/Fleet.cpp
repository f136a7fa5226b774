#include "Fleet.h"

#include <fstream>
#include <stdexcept>

#include "DemoFirmware.h"
#include "NetworkModule.h"
#include "PicCard.h"
#include "TftpReceiver.h"

namespace kv::sim {

namespace {

std::string jsonText(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

void writeBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

// Everything the module took in from the tool, on any of its ports.
std::size_t ModuleContacts(const NetworkModule& module) {
    return module.discoveryQueries.size() + module.setupRequests.size() +
           module.storedRecords.size() + module.gpio().messages.size() + module.tunnelBytes.size();
}

}  // namespace

Fleet BuildFleet(World& world, int count, int failDevice, int failFrames) {
    Fleet fleet;
    const std::vector<DemoFamily> families = FleetFamilies();
    for (int i = 0; i < count; ++i) {
        DemoOptions options;
        options.family = families[static_cast<std::size_t>(i) % families.size()];
        options.addresses = {"127.0.0." + std::to_string(2 + i)};
        options.firstIndex = static_cast<std::size_t>(i);
        Fleet::Device device{options.family,
                             DemoFamilyName(options.family) + "-" + std::to_string(i + 1),
                             options.addresses.front(), buildDemoWorld(world, options)};
        if (failDevice == i + 1 && !device.models.picCards.empty())
            device.models.picCards.back()->bootloader.faults.silentAfterFrames = failFrames;
        fleet.devices.push_back(std::move(device));
    }
    return fleet;
}

void WriteFleetFiles(const Fleet& fleet, const std::filesystem::path& folder) {
    for (DemoFamily family : FleetFamilies()) WriteDemoFirmware(family, folder);
    std::string plan = "{\n  \"devices\": [\n";
    for (std::size_t i = 0; i < fleet.devices.size(); ++i) {
        const Fleet::Device& device = fleet.devices[i];
        plan += "    {\"name\": " + jsonText(device.name) +
                ", \"address\": " + jsonText(device.address) + ", \"files\": {";
        bool first = true;
        for (const DemoFirmwareFile& file : DemoFirmwareFiles(device.family)) {
            plan += std::string(first ? "" : ", ") + jsonText(file.controllerType) + ": " +
                    jsonText(file.fileName);
            first = false;
        }
        plan += "}}" + std::string(i + 1 < fleet.devices.size() ? "," : "") + "\n";
    }
    plan += "  ]\n}\n";
    std::ofstream out(folder / "plan.json", std::ios::binary | std::ios::trunc);
    out << plan;
    if (!out) throw std::runtime_error("cannot write " + (folder / "plan.json").string());
}

void DumpFleet(const Fleet& fleet, const std::filesystem::path& folder) {
    for (const Fleet::Device& device : fleet.devices) {
        const std::filesystem::path own = folder / device.address;
        std::filesystem::create_directories(own);
        for (const auto& card : device.models.picCards) {
            const auto& words = card->ident.config.words;
            writeBytes(own / ((words ? words->type : std::string("card")) + ".bin"),
                       card->bootloader.programMemory());
        }
        for (const auto& receiver : device.models.tftpReceivers) {
            for (const std::string& slot : TftpReceiver::slots()) {
                const auto image = receiver->image(slot);
                if (!image) continue;
                std::string name = slot;
                for (char& c : name)
                    if (c == '/') c = '_';
                writeBytes(own / (name + ".bin"), *image);
            }
        }
        const NetworkModule& module = *device.models.modules.front();
        const LineSettings line = module.serialLine();
        std::ofstream state(own / "state.txt", std::ios::trunc);
        state << "select-code " << static_cast<int>(module.gpio().selectCode()) << "\n"
              << "line " << line.baud << " " << (line.parity == Parity::None ? "none" : "parity")
              << "\n"
              << "bootloader-mode " << (module.gpio().bootloaderMode() ? 1 : 0) << "\n"
              << "contacts " << ModuleContacts(module) << "\n";
        if (!state) throw std::runtime_error("cannot write " + (own / "state.txt").string());
    }
}

}  // namespace kv::sim
