#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kv {

// One controller (card, processor, module function) of a device.
struct TControllerRec {
    bool Selected = false;
    std::string
        ControllerType;  // "Controller Type" column, or "Web Server"/"Web Content"/"Web Package"
    std::string HardwareVersion;
    std::string FirmwareVersion;
    std::string BootloaderVersion;
    std::string FirmwareFile;      // full path of the chosen file; empty = none
    std::int32_t CardAddress = 0;  // card select code, low byte used
};

// One found device: a network module, a COM port entry or a USB entry.
struct TMatrixRec {
    std::string IP;   // dotted IPv4, or the port name of a COM entry
    std::string MAC;  // six upper-case hex groups joined by "-"
    std::string Serial;
    std::string Ident;
    std::int32_t FwNumber = 0;
    std::string ModuleVersion;
    std::string LanVersion;
    std::vector<TControllerRec> Controllers;
    std::int32_t Port = 0;  // TCP port of the module's serial tunnel
};

}  // namespace kv
