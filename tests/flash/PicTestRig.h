#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "FakeRig.h"
#include "PicBootloader.h"
#include "flash/PicState.h"

namespace kv::test {

// A PIC card in its bootloader straight behind the tunnel port of 127.0.0.2, a network
// device selected (a network connection) and an upgrade row running (RowOk).
class PicTest : public ::testing::Test {
  protected:
    static constexpr const char* kAddress = "127.0.0.2";
    static constexpr int kTunnelPort = 10001;

    PicTest() {
        rig.addDevice(kAddress, kTunnelPort).Controllers.push_back(controller("RV-PNL16"));
        rig.world.listenTcp(kAddress, kTunnelPort, pic.connectionFactory());
        rig.state.CurrentIP = kAddress;
        rig.state.ConnectionKind = ConnectionKind::Network;
        rig.state.RowOk = true;
    }

    static TControllerRec controller(const std::string& type) {
        TControllerRec c;
        c.ControllerType = type;
        return c;
    }
    void setFirstController(const std::string& type) {
        rig.state.DeviceList[0].Controllers[0].ControllerType = type;
    }

    // The same card on COM3 instead (a serial connection), the port open at `baud`.
    void useSerial(int baud = 19200) {
        rig.state.ConnectionKind = ConnectionKind::Serial;
        rig.world.attachSerial("COM3", &pic);
        rig.com1.setName("COM3");
        rig.com1.open();
        rig.com1.setBaud(baud);
    }

    std::vector<std::string> logLinesWith(const std::string& part) const {
        std::vector<std::string> out;
        for (const auto& line : rig.logLines()) {
            if (line.find(part) != std::string::npos) out.push_back(line);
        }
        return out;
    }

    std::vector<Bytes>& tunnelSent() { return rig.tcp1.sent; }

    FakeRig rig;
    sim::PicBootloader pic;
    PicState state;
};

inline Bytes sequence(std::uint8_t first, std::size_t count) {
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(first + i);
    return bytes;
}

}  // namespace kv::test
