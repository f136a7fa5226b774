#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "Scenario.h"
#include "World.h"

namespace kv::sim {

// A simulated fleet: `count` upgradable network devices of mixed families at consecutive
// addresses (FleetFamilies() in turn), each with its own module, cards and TFTP server.
struct Fleet {
    struct Device {
        DemoFamily family;
        std::string name;     // "<family>-<number>"
        std::string address;  // the fleet's first address counted up by number - 1
        DemoDevices models;
    };
    std::vector<Device> devices;
};

inline constexpr int kMaxFleet = 200;
inline constexpr const char* kFleetFirstAddress = "127.0.0.2";

// Builds the fleet into `world`, its first device at firstAddress (a dotted IPv4 address;
// the others count up in its last byte). failDevice (1-based, 0 = none): that device's
// last card goes silent after failFrames bootloader frames. Throws std::invalid_argument
// when the addresses would run past x.x.x.254.
Fleet BuildFleet(World& world, int count, int failDevice = 0, int failFrames = 0,
                 const std::string& firstAddress = kFleetFirstAddress);

// The sample firmware of every fleet family in `folder`, and plan.json there: a fleet plan
// giving every row of every device its file (paths relative to the folder).
void WriteFleetFiles(const Fleet& fleet, const std::filesystem::path& folder);

// Each device's memories under folder/<address>/: <card type>.bin (program memory),
// <TFTP slot>.bin (each image the module took, '/' written as '_') and state.txt
// ("select-code N", "line BAUD none|parity", "bootloader-mode 0|1", "contacts N": the
// datagrams, set-up exchanges and tunnel chunks the module took in from the tool, and
// "flash-writes N": the erase and write frames the cards took plus the images the module
// took, since start).
void DumpFleet(const Fleet& fleet, const std::filesystem::path& folder);

}  // namespace kv::sim
