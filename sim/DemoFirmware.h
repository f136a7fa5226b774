#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "Scenario.h"

namespace kv::sim {

// A sample firmware file for one controller row of a demo device.
struct DemoFirmwareFile {
    std::string controllerType;  // the row's type as the grid shows it
    std::string fileName;        // with the version it carries: "RV-PNL16-1.4.1.hex"
    std::string content;
    std::string version;  // as the device reports it once it runs the file: "FW:1.4.1"
};

// Where the sample program data of a card image starts: the cards' bootloader keeps
// everything below for itself.
inline constexpr std::uint32_t kDemoProgramStart = 0x0800;
inline constexpr std::size_t kDemoProgramBytes = 4096;
inline constexpr std::size_t kDemoWebImageBytes = 3000;

// The files that upgrade every row of an upgradable family: an Intel HEX image per card
// (its type at 0x0600 and hardware info at 0x0710, which the tool checks against the
// card's own words, then program data) and a web server image for the module. Each
// carries a version one above what the row reports before (FirmwareVersionTag.h), named
// in the file name too, so a run shows from -> to. Empty for families that cannot be
// upgraded.
std::vector<DemoFirmwareFile> DemoFirmwareFiles(DemoFamily family);

// Writes DemoFirmwareFiles(family) into `folder` (made when missing); returns the paths.
std::vector<std::filesystem::path> WriteDemoFirmware(DemoFamily family,
                                                     const std::filesystem::path& folder);

}  // namespace kv::sim
