#pragma once

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "FakeRig.h"
#include "Scenario.h"
#include "device/ChannelEvents.h"

namespace kv::test {

// A FakeRig with one simulated device family, listed as FIND would list it: each
// network module as a DeviceList entry and a network list entry, or the serial device's
// port as a DeviceList entry and a COM list entry.
struct ConnectRig {
    static constexpr const char* kComPort = "COM3";
    static constexpr const char* kModuleVersion = "6.11.0";

    explicit ConnectRig(sim::DemoFamily family, std::vector<std::string> addresses = {"127.0.0.2"},
                        bool webServer = true) {
        sim::DemoOptions options;
        options.family = family;
        options.addresses = addresses;
        options.serialPort = kComPort;
        options.webServer = webServer;
        devices = sim::buildDemoWorld(rig.world, options);
        RegisterChannelEvents(rig.ctx);
        if (sim::IsSerialFamily(family)) {
            TMatrixRec port;
            port.IP = kComPort;
            rig.state.DeviceList.push_back(port);
            rig.state.comTree.push_back(kComPort);
            return;
        }
        for (std::size_t i = 0; i < addresses.size(); ++i) {
            TMatrixRec device;
            device.IP = addresses[i];
            device.MAC = "00-20-4A-9B-0C-1" + std::to_string(1 + i);
            device.ModuleVersion = kModuleVersion;
            device.Port = 10001;
            rig.state.DeviceList.push_back(device);
            rig.state.networkTree.push_back(addresses[i] + " " + controller(i).config.ident + " " +
                                            controller(i).config.serial);
        }
    }

    // The operator answers the next question with Yes.
    void yes() { rig.ui.answers.push_back(MsgButton::Yes); }

    sim::NetworkModule& module(std::size_t i = 0) { return *devices.modules.at(i); }
    sim::TextDevice& controller(std::size_t i = 0) { return *devices.controllers.at(i); }
    sim::IdentCard& card(std::size_t i) { return *devices.cards.at(i); }
    TMatrixRec& device(std::size_t i = 0) { return rig.state.DeviceList.at(i); }

    // The controller grid as the window shows it: five texts per row.
    std::vector<std::array<std::string, 5>> grid() const {
        std::vector<std::array<std::string, 5>> rows;
        for (const auto& row : rig.ui.grid)
            rows.push_back({row.cells[0], row.cells[1], row.cells[2], row.cells[3], row.cells[4]});
        return rows;
    }
    std::vector<int> cardAddresses() {
        std::vector<int> out;
        for (const auto& c : rig.state.selectedDevice()->Controllers) out.push_back(c.CardAddress);
        return out;
    }
    bool memoHas(const std::string& line) const {
        return std::count(rig.ui.memo.begin(), rig.ui.memo.end(), line) > 0;
    }
    std::size_t logCount(const std::string& line) const {
        auto lines = rig.logLines();
        return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
    }
    std::vector<std::string> dialogTexts(ScriptedUi::Dialog::Type type) const {
        std::vector<std::string> out;
        for (const auto& d : rig.ui.dialogsOf(type)) out.push_back(d.text);
        return out;
    }

    FakeRig rig;
    sim::DemoDevices devices;
};

}  // namespace kv::test
