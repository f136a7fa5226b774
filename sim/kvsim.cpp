// kvsim: serves simulated devices over real sockets and ptys, so the tool can be run
// against them end to end.
//
//   kvsim [--family NAME] [--address 127.0.0.x]... [--pty PATH] [--serial-family NAME]
//         [--device NAME@127.0.0.x]... [--write-firmware FOLDER]
//   kvsim --fleet N [--fleet-base 127.x.x.x] [--files FOLDER] [--dump FOLDER]
//         [--fail K[:FRAMES]] [--pace] [--tunnel-delay MS]
//
// Network families put one network module per --address (default 127.0.0.2); each
// --device adds one module of its own family at its own address (then --family and
// --address serve nothing unless given too). One process serves them all, so a single
// listener answers the discovery broadcasts for every module. --pty
// adds a serial device on a pty reachable at PATH, of --serial-family (default serial);
// with a serial --family it is the only device. One line is printed per served endpoint,
// then "ready". Families: matrix, direct-matrix, direct-matrix-classic, modular, panel,
// panel32, protocol2, silent (network); serial, serial-tp, serial-upgrade, serial-hqlx
// (serial), panel-upgrade (network, every row upgradable).
//
// --write-firmware FOLDER writes sample firmware files for every row of the upgradable
// families named by --family and --device (all upgradable families when none is named),
// prints their paths and ends without serving anything. Each file carries a version one
// above what its row reports, in its name too; a device reports the version of the image
// it holds after its next restart ("KVVER=FW:1.4.1" at a fixed place of the image, see
// FirmwareVersionTag.h and kvsim(1)).
//
// --silent-card-after FRAMES: the last upgradable card of the first network device with
// such cards stops answering once it has taken in that many bootloader frames (a card
// that falls silent in the middle of its transfer). On SIGINT or SIGTERM kvsim prints the
// state it ends with: each module's select code, serial setting and bootloader mode, and
// whether each upgradable card and the web server image hold their sample files.
// --fleet N serves N upgradable network devices of mixed families at 127.0.0.2 onwards
// (panel-upgrade, extender-upgrade, panel32-upgrade, transmitter-upgrade, in turn), each
// with its own module, cards and TFTP server; --fleet-base A.B.C.D starts them at that
// loopback address instead (two fleets on two ranges stand for two sites). --files FOLDER writes
// the sample firmware of those families there, with plan.json, a fleet plan that upgrades every row
// of every device. --dump FOLDER writes each device's memories there on SIGUSR1 and on exit:
// FOLDER/<address>/<card type>.bin (the card's program memory), <slot>.bin (each image
// its module took by TFTP) and state.txt (select code, serial line, bootloader mode, and
// how much the module took in from the tool).
// --fail K[:FRAMES] makes the last card of device K (1 = 127.0.0.2) go silent after
// FRAMES bootloader frames (default 300: in the middle of its erase).
// --pace (any world) paces every module's tunnel at the wire rate of its serial side.
// --tunnel-delay MS (any world) holds back every answer of every module's tunnel by MS
// milliseconds: each exchange pays that round trip, as over a VPN to another site.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <stdexcept>
#include <string>

#include <QCoreApplication>
#include <QTimer>

#include "DemoFirmware.h"
#include "Fleet.h"
#include "HexBytes.h"
#include "PicCard.h"
#include "Scenario.h"
#include "TftpReceiver.h"
#include "World.h"
#include "server/WorldServer.h"

namespace {

std::atomic<bool> stopRequested{false};
std::atomic<bool> dumpRequested{false};

void onSignal(int) {
    stopRequested = true;
}

void onDumpSignal(int) {
    dumpRequested = true;
}

constexpr int kDefaultFailFrames = 300;
// A round trip beyond a few seconds is no network any more; the bound keeps a typing
// mistake from making every exchange time out.
constexpr long kMaxTunnelDelayMs = 10000;

struct Options {
    kv::sim::DemoFamily family = kv::sim::DemoFamily::Matrix;
    kv::sim::DemoFamily serialFamily = kv::sim::DemoFamily::Serial;
    bool familyGiven = false;
    std::vector<std::string> addresses;
    std::vector<std::pair<kv::sim::DemoFamily, std::string>> devices;
    std::string pty;
    std::string firmwareFolder;
    long silentCardAfter = 0;
    int fleet = 0;
    std::string filesFolder;
    std::string dumpFolder;
    int failDevice = 0;
    int failFrames = kDefaultFailFrames;
    bool pace = false;
    std::string fleetBase = kv::sim::kFleetFirstAddress;
    std::chrono::milliseconds tunnelDelay{0};
};

bool loopback(const std::string& address) {
    return address.rfind("127.", 0) == 0;
}

std::string familyList() {
    std::string names;
    for (const std::string& name : kv::sim::DemoFamilyNames())
        names += (names.empty() ? "" : "|") + name;
    return names;
}

int usage(const std::string& problem) {
    std::cerr << "kvsim: " << problem << "\n"
              << "usage: kvsim [--family " << familyList()
              << "] [--address 127.0.0.x]... [--pty PATH] [--serial-family NAME]"
                 " [--device NAME@127.0.0.x]... [--write-firmware FOLDER]"
                 " [--silent-card-after FRAMES]\n"
                  "       kvsim --fleet N [--fleet-base 127.x.x.x] [--files FOLDER] [--dump FOLDER]"
                  " [--fail K[:FRAMES]] [--pace] [--tunnel-delay MS]\n"
                  "Firmware images carry their version as \"KVVER=FW:1.4.1\" and a NUL byte (card"
                  " memory 0x0800, CPU flash +0x200, web images at their start); a device"
                  " reports it after its next restart.\n";
    return 2;
}

// What the served devices hold when kvsim ends, for scripts that check a run.
void printEndState(kv::sim::DemoFamily family, const kv::sim::DemoDevices& devices) {
    for (const auto& module : devices.modules) {
        const auto line = module->serialLine();
        std::cout << "kvsim: module " << module->config().address << ": select code "
                  << int(module->gpio().selectCode()) << ", serial " << line.baud << " bit/s "
                  << (line.parity == kv::Parity::None ? "no parity" : "with parity")
                  << ", bootloader mode " << (module->gpio().bootloaderMode() ? "on" : "off")
                  << std::endl;
    }
    std::map<std::string, std::string> files;
    for (const auto& file : kv::sim::DemoFirmwareFiles(family))
        files[file.controllerType] = file.content;
    for (const auto& card : devices.picCards) {
        const std::string& type = card->ident.config.words->type;
        const auto& memory = card->bootloader.programMemory();
        const auto expected = kv::sim::HexTextBytes(files[type]);
        std::string verdict = "equals its file";
        for (std::size_t a = kv::sim::kDemoProgramStart; a < memory.size(); ++a) {
            auto it = expected.find(static_cast<std::uint32_t>(a));
            if (memory[a] == (it == expected.end() ? 0xFF : it->second)) continue;
            char where[64];
            std::snprintf(where, sizeof where, "differs from its file at 0x%05zX", a);
            verdict = where;
            break;
        }
        std::cout << "kvsim: card " << type << ": program memory " << verdict << " ("
                  << card->bootloader.counters.droppedReplies << " replies withheld)" << std::endl;
    }
    for (const auto& tftp : devices.tftpReceivers) {
        const std::string& content = files["Web Server"];
        bool holds = false;
        for (const char* slot : {"X5", "X9"}) {
            auto image = tftp->image(slot);
            holds = holds || (image && std::string(image->begin(), image->end()) == content);
        }
        std::cout << "kvsim: web server image "
                  << (holds ? "equals its file" : "does not equal its file") << std::endl;
    }
}

int writeFirmware(const Options& options) {
    std::vector<kv::sim::DemoFamily> families;
    if (options.familyGiven) families.push_back(options.family);
    for (const auto& device : options.devices) families.push_back(device.first);
    if (families.empty()) {
        for (const std::string& name : kv::sim::DemoFamilyNames())
            families.push_back(*kv::sim::ParseDemoFamily(name));
    }
    try {
        for (kv::sim::DemoFamily family : families) {
            for (const auto& path : kv::sim::WriteDemoFirmware(family, options.firmwareFolder))
                std::cout << path.string() << std::endl;
        }
    } catch (const std::exception& e) {
        std::cerr << "kvsim: " << e.what() << std::endl;
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::invalid_argument(arg + " needs a value");
            return argv[++i];
        };
        try {
            if (arg == "--family") {
                auto family = kv::sim::ParseDemoFamily(value());
                if (!family) return usage("unknown family " + std::string(argv[i]));
                options.family = *family;
                options.familyGiven = true;
            } else if (arg == "--device") {
                const std::string device = value();
                const auto at = device.find('@');
                auto family = kv::sim::ParseDemoFamily(device.substr(0, at));
                if (at == std::string::npos || !family || kv::sim::IsSerialFamily(*family)) {
                    return usage("not a network family at an address: " + device);
                }
                const std::string address = device.substr(at + 1);
                if (!loopback(address)) {
                    return usage("only loopback addresses (127.x.x.x) are served: " + address);
                }
                options.devices.emplace_back(*family, address);
            } else if (arg == "--address") {
                std::string address = value();
                if (!loopback(address)) {
                    return usage("only loopback addresses (127.x.x.x) are served: " + address);
                }
                options.addresses.push_back(address);
            } else if (arg == "--fleet") {
                const std::string count = value();
                options.fleet = std::atoi(count.c_str());
                if (options.fleet < 1 || options.fleet > kv::sim::kMaxFleet ||
                    count.find_first_not_of("0123456789") != std::string::npos) {
                    return usage("--fleet needs a number of devices from 1 to " +
                                 std::to_string(kv::sim::kMaxFleet));
                }
            } else if (arg == "--files") {
                options.filesFolder = value();
            } else if (arg == "--dump") {
                options.dumpFolder = value();
            } else if (arg == "--fail") {
                const std::string fail = value();
                const auto colon = fail.find(':');
                options.failDevice = std::atoi(fail.substr(0, colon).c_str());
                if (colon != std::string::npos)
                    options.failFrames = std::atoi(fail.substr(colon + 1).c_str());
                if (options.failDevice < 1 || options.failFrames < 1)
                    return usage("--fail needs K[:FRAMES], both from 1: " + fail);
            } else if (arg == "--pace") {
                options.pace = true;
            } else if (arg == "--fleet-base") {
                options.fleetBase = value();
                if (!loopback(options.fleetBase)) {
                    return usage("only loopback addresses (127.x.x.x) are served: " +
                                 options.fleetBase);
                }
            } else if (arg == "--tunnel-delay") {
                const std::string text = value();
                char* end = nullptr;
                const long ms = std::strtol(text.c_str(), &end, 10);
                if (text.empty() || *end != '\0' || ms < 0 || ms > kMaxTunnelDelayMs) {
                    return usage("--tunnel-delay needs milliseconds from 0 to " +
                                 std::to_string(kMaxTunnelDelayMs) + ": " + text);
                }
                options.tunnelDelay = std::chrono::milliseconds(ms);
            } else if (arg == "--write-firmware") {
                options.firmwareFolder = value();
            } else if (arg == "--pty") {
                options.pty = value();
            } else if (arg == "--silent-card-after") {
                const std::string text = value();
                char* end = nullptr;
                options.silentCardAfter = std::strtol(text.c_str(), &end, 10);
                if (text.empty() || *end != '\0' || options.silentCardAfter <= 0 ||
                    options.silentCardAfter > 1000000) {
                    return usage("not a frame count: " + text);
                }
            } else if (arg == "--serial-family") {
                auto family = kv::sim::ParseDemoFamily(value());
                if (!family || !kv::sim::IsSerialFamily(*family)) {
                    return usage("not a serial family: " + std::string(argv[i]));
                }
                options.serialFamily = *family;
            } else {
                return usage("unknown option " + arg);
            }
        } catch (const std::invalid_argument& e) {
            return usage(e.what());
        }
    }
    if (!options.firmwareFolder.empty()) return writeFirmware(options);
    if (options.fleet == 0 &&
        (!options.filesFolder.empty() || !options.dumpFolder.empty() || options.failDevice)) {
        return usage("--files, --dump and --fail go with --fleet");
    }
    if (options.failDevice > options.fleet && options.fleet > 0)
        return usage("--fail names a device beyond the fleet");
    const bool defaultNetwork =
        options.fleet == 0 && (options.devices.empty() || options.familyGiven);
    if (options.addresses.empty() && defaultNetwork) options.addresses.push_back("127.0.0.2");
    const bool serialOnly = kv::sim::IsSerialFamily(options.family);
    if (serialOnly && options.pty.empty()) {
        return usage("the serial family needs --pty PATH");
    }
    if (serialOnly) options.serialFamily = options.family;

    kv::sim::World world;
    std::vector<kv::sim::DemoDevices> devices;
    std::vector<kv::sim::DemoFamily> familyOf;  // of each entry of devices
    if (!serialOnly && !options.addresses.empty()) {
        kv::sim::DemoOptions network;
        network.family = options.family;
        network.addresses = options.addresses;
        devices.push_back(kv::sim::buildDemoWorld(world, network));
        familyOf.push_back(options.family);
    }
    for (const auto& [family, address] : options.devices) {
        kv::sim::DemoOptions network;
        network.family = family;
        network.addresses = {address};
        devices.push_back(kv::sim::buildDemoWorld(world, network));
        familyOf.push_back(family);
        std::cout << "kvsim: " << kv::sim::DemoFamilyName(family) << " at " << address << std::endl;
    }
    kv::sim::Fleet fleet;
    try {
        fleet = kv::sim::BuildFleet(world, options.fleet, options.failDevice, options.failFrames,
                                    options.fleetBase);
    } catch (const std::invalid_argument& e) {
        return usage(e.what());
    }
    for (const auto& device : fleet.devices) {
        std::cout << "kvsim: " << kv::sim::DemoFamilyName(device.family) << " at " << device.address
                  << std::endl;
    }
    if (!options.filesFolder.empty()) {
        try {
            kv::sim::WriteFleetFiles(fleet, options.filesFolder);
        } catch (const std::exception& e) {
            std::cerr << "kvsim: " << e.what() << std::endl;
            return 1;
        }
        std::cout << "files " << options.filesFolder << std::endl;
    }
    if (!options.pty.empty()) {
        kv::sim::DemoOptions serial;
        serial.family = options.serialFamily;
        serial.serialPort = options.pty;
        devices.push_back(kv::sim::buildDemoWorld(world, serial));
        familyOf.push_back(options.serialFamily);
    }
    if (options.silentCardAfter > 0) {
        auto it = std::find_if(devices.begin(), devices.end(),
                               [](const auto& d) { return !d.picCards.empty(); });
        if (it == devices.end()) return usage("--silent-card-after needs an upgradable family");
        auto& card = *it->picCards.back();
        card.bootloader.faults.silentAfterFrames = static_cast<int>(options.silentCardAfter);
        std::cout << "kvsim: card " << card.ident.config.words->type << " falls silent after "
                  << options.silentCardAfter << " frames" << std::endl;
    }

    kv::sim::WorldServer server(world);
    if (options.fleet == 0)
        std::cout << "kvsim: family " << kv::sim::DemoFamilyName(options.family) << std::endl;
    try {
        if (options.pace || options.tunnelDelay.count() > 0) {
            auto pace = [&server, &options](const kv::sim::DemoDevices& group) {
                for (const auto& module : group.modules) {
                    const kv::sim::NetworkModule* paced = module.get();
                    kv::sim::WorldServer::LineOf line;
                    if (options.pace) line = [paced] { return paced->serialLine(); };
                    server.paceTcp(paced->config().address, paced->config().tunnelPort,
                                   std::move(line), options.tunnelDelay);
                }
            };
            for (const auto& group : devices) pace(group);
            for (const auto& device : fleet.devices) pace(device.models);
        }
        for (const std::string& line : server.serveAll()) std::cout << line << std::endl;
        if (!options.pty.empty()) {
            std::string slave = server.servePty(options.pty, options.pty);
            std::cout << "pty " << options.pty << " -> " << slave << std::endl;
        }
    } catch (const std::exception& e) {
        std::cerr << "kvsim: " << e.what() << std::endl;
        return 1;
    }
    std::cout << "ready" << std::endl;

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGUSR1, onDumpSignal);
    auto dump = [&] {
        if (options.dumpFolder.empty()) return;
        std::lock_guard lock(server.mutex());
        try {
            kv::sim::DumpFleet(fleet, options.dumpFolder);
            std::cout << "dumped " << options.dumpFolder << std::endl;
        } catch (const std::exception& e) {
            std::cerr << "kvsim: " << e.what() << std::endl;
        }
    };
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (dumpRequested.exchange(false)) dump();
        if (stopRequested) QCoreApplication::quit();
    });
    watch.start(100);
    const int status = app.exec();
    for (std::size_t i = 0; i < devices.size(); ++i) printEndState(familyOf[i], devices[i]);
    dump();
    return status;
}
