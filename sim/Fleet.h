#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "Scenario.h"
#include "World.h"

namespace kv::sim {

// A simulated fleet: `count` upgradable network devices of mixed families at 127.0.0.2
// onwards (FleetFamilies() in turn), each with its own module, cards and TFTP server.
struct Fleet {
    struct Device {
        DemoFamily family;
        std::string name;     // "<family>-<number>"
        std::string address;  // 127.0.0.(number + 1)
        DemoDevices models;
    };
    std::vector<Device> devices;
};

inline constexpr int kMaxFleet = 200;

// Builds the fleet into `world`. failDevice (1-based, 0 = none): that device's last card
// goes silent after failFrames bootloader frames.
Fleet BuildFleet(World& world, int count, int failDevice = 0, int failFrames = 0);

// The sample firmware of every fleet family in `folder`, and plan.json there: a fleet plan
// giving every row of every device its file (paths relative to the folder).
void WriteFleetFiles(const Fleet& fleet, const std::filesystem::path& folder);

// Each device's memories under folder/<address>/: <card type>.bin (program memory),
// <TFTP slot>.bin (each image the module took, '/' written as '_') and state.txt
// ("select-code N", "line BAUD none|parity", "bootloader-mode 0|1", and "contacts N": the
// datagrams, set-up exchanges and tunnel chunks the module took in from the tool).
void DumpFleet(const Fleet& fleet, const std::filesystem::path& folder);

}  // namespace kv::sim
