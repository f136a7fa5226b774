#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "FakeRig.h"
#include "Scenario.h"
#include "discovery/Discovery.h"

namespace kv::test {

// A FakeRig with simulated matrices behind network modules and the discovery listener
// registered with the message pump.
struct DiscoveryRig {
    explicit DiscoveryRig(std::vector<std::string> moduleAddresses = {"10.0.0.7", "10.0.0.8"}) {
        sim::DemoOptions options;
        options.addresses = std::move(moduleAddresses);
        devices = sim::buildDemoWorld(rig.world, options);
        RegisterDiscoveryEvents(rig.ctx);
    }

    // Pumps until every queued datagram has been handled.
    void pumpAll() {
        for (int i = 0; i < 100 && !rig.udpServer.inbox.empty(); ++i) rig.ctx.ProcessMessages();
    }

    sim::NetworkModule& module(std::size_t i) { return *devices.modules.at(i); }
    sim::TextDevice& controller(std::size_t i) { return *devices.controllers.at(i); }

    std::vector<Datagram> sentWith(std::uint8_t code) const {
        std::vector<Datagram> out;
        for (const auto& d : rig.udpServer.sent)
            if (d.data.size() == 4 && d.data[3] == code) out.push_back(d);
        return out;
    }
    std::size_t logCount(const std::string& line) const {
        auto lines = rig.logLines();
        return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
    }
    std::size_t memoCount(const std::string& line) const {
        return static_cast<std::size_t>(std::count(rig.ui.memo.begin(), rig.ui.memo.end(), line));
    }

    FakeRig rig;
    sim::DemoDevices devices;
};

inline TMatrixRec entry(const std::string& ip, int port = 0) {
    TMatrixRec device;
    device.IP = ip;
    device.Port = port;
    return device;
}

inline Bytes answerBytes(std::uint8_t code, std::size_t size) {
    Bytes data(size, 0x00);
    if (size > 3) data[3] = code;
    return data;
}

}  // namespace kv::test
