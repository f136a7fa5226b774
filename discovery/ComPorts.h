#pragma once

#include "core/Context.h"

namespace kv {

// The COM port list is built from at most this many candidates.
constexpr int kMaxComPorts = 20;

// Rebuilds the "Available COM Ports" tree: each candidate port that opens exclusively gets
// a tree entry and a DeviceList entry with IP = its name (the name SerialPort::setName
// opens again). A failing step shows "Com Port Error!(" + n + ")" and ends the scan.
void ScanComPorts(Context& ctx);

}  // namespace kv
