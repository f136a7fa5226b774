#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "FakeChannels.h"
#include "FakeHidBus.h"
#include "ScriptedUi.h"
#include "VirtualClock.h"
#include "World.h"
#include "core/Context.h"
#include "core/LogFile.h"
#include "core/SharedState.h"

namespace kv::test {

// Everything a procedure test needs: shared state, a log file in a fresh temporary
// folder, a scripted Ui, virtual time and fake channels routed to a World of simulated
// devices. The shared state starts as after the program's start (DebugSwitch "ON").
class FakeRig {
  public:
    FakeRig();
    ~FakeRig();

    sim::World world;
    VirtualClock clock;
    ScriptedUi ui;
    SharedState state;
    LogFile log;

    FakeTcpClient tcp1{world, clock};
    FakeTcpClient tcp2{world, clock};
    FakeStreamSocket socket1{world, clock};
    FakeSerialPort com1{world, clock};
    FakeUdpSocket udpServer{world, clock};
    FakeUdpSocket gpioClient{world, clock};
    FakeUdpSocket tftp{world, clock};
    FakeSystemInfo system{world};
    FakeHidBus hid{clock};
    Ports ports;
    Context ctx{state, log, ui, clock, ports};

    std::filesystem::path folder;  // temporary folder, removed with the rig

    // Everything sent on any channel so far (writes, datagrams, HID reports), counted one
    // per call: unchanged over a run that sent nothing to any device.
    std::size_t sentCount() const;
    // Lines of the log file as written so far (without CR LF).
    std::vector<std::string> logLines() const;
    // Adds a device to DeviceList and makes it the selected one.
    TMatrixRec& addDevice(const std::string& ip, int port = 10001);
    // Puts `peer` on serial port COM3, opens the tool's port there and adds and selects a
    // serial device on it.
    TMatrixRec& addSerialDevice(sim::StreamPeer* peer);
};

}  // namespace kv::test
