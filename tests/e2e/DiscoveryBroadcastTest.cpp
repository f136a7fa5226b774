// FIND with the program's real channels: the module query goes out as a real subnet
// broadcast over a bridge to two module hosts in network namespaces of their own
// (DiscoveryNetns.sh), and the COM list tries real ptys.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <thread>

#include <QCoreApplication>
#include <QSerialPort>

#include <net/if.h>

#include "DiscoveryPty.h"
#include "QtSystemInfo.h"
#include "RealRig.h"
#include "discovery/Discovery.h"

namespace kv {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::vector<std::string> moduleAddresses() {
    std::vector<std::string> addresses;
    if (const char* list = std::getenv("KV_DISCOVERY_MODULES")) {
        std::istringstream in(list);
        for (std::string a; in >> a;) addresses.push_back(a);
    }
    return addresses;
}

// Pumps like the idle engine until every module is listed with its tunnel answers.
void pumpUntilListed(test::RealRig& rig, std::size_t count) {
    const auto deadline = Clock::now() + 20s;
    auto complete = [&] {
        if (rig.state.networkTree.size() < count) return false;
        for (const auto& entry : rig.state.networkTree)
            if (entry.find("(S:") == std::string::npos) return false;
        return true;
    };
    while (!complete() && Clock::now() < deadline) {
        rig.ctx.ProcessMessages();
        std::this_thread::sleep_for(10ms);
    }
}

TEST(DiscoveryBroadcast, FindListsTheModulesBehindTheBridgeAndTheFreePtys) {
    const std::vector<std::string> modules = moduleAddresses();
    if (modules.empty()) GTEST_SKIP() << "run through DiscoveryNetns.sh";

    test::DiscoveryPty freePort;
    test::DiscoveryPty heldPort;
    ASSERT_FALSE(freePort.path().empty());
    QSerialPort holder;
    holder.setPortName(QString::fromStdString(heldPort.path()));
    ASSERT_TRUE(holder.open(QIODevice::ReadWrite));
    ::setenv(QtSystemInfo::kExtraPortsVariable,
             (freePort.path() + ":" + heldPort.path() + ":/nonexistent/tty").c_str(), 1);

    test::RealRig rig;
    RegisterDiscoveryEvents(rig.ctx);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        FindDevices(rig.ctx);
        EXPECT_EQ(rig.state.LocalIP, "10.77.0.1");
        pumpUntilListed(rig, modules.size());
        // 10.77.255.255 has no route here: that failed send must not cost the listener.
        EXPECT_TRUE(rig.ctx.ports.IdUDPServer1->isBound());

        std::vector<std::string> tree = rig.ui.networkEntries;
        std::sort(tree.begin(), tree.end());
        ASSERT_EQ(tree.size(), 2u);
        EXPECT_EQ(tree[0], "10.77.0.2 (I:RV-FS64S) (S:KV102)");
        EXPECT_EQ(tree[1], "10.77.0.3 (I:RV-FS64S) (S:KV103)");
        std::size_t networkEntries = 0;
        for (const auto& device : rig.state.DeviceList) {
            if (device.MAC.empty()) continue;
            ++networkEntries;
            EXPECT_EQ(device.Port, 10001);
            EXPECT_EQ(device.ModuleVersion, "6.B.0");
        }
        EXPECT_EQ(networkEntries, 2u);

        const auto& com = rig.ui.comEntries;
        EXPECT_NE(std::find(com.begin(), com.end(), freePort.path()), com.end());
        EXPECT_EQ(std::find(com.begin(), com.end(), heldPort.path()), com.end());
        EXPECT_EQ(std::find(com.begin(), com.end(), "/nonexistent/tty"), com.end());
        EXPECT_TRUE(rig.ui.dialogs.empty());
    }
    std::ifstream logFile(rig.log.path(), std::ios::binary);
    const std::string log((std::istreambuf_iterator<char>(logFile)), {});
    // The COM entries are in DeviceList before the answers are handled.
    const std::string count = std::to_string(rig.state.DeviceList.size());
    EXPECT_NE(log.find("devicelist length: " + count + "\r\n"), std::string::npos);
}

}  // namespace
}  // namespace kv

// Runs only in the private network DiscoveryNetns.sh builds: loopback, the bridge and the
// bridge's ends of the module cables, nothing that leads to a real network.
int main(int argc, char** argv) {
    struct if_nameindex* interfaces = ::if_nameindex();
    bool ownNetwork = interfaces != nullptr;
    for (auto* i = interfaces; ownNetwork && i->if_index != 0; ++i) {
        const std::string name = i->if_name;
        ownNetwork = name == "lo" || name == "kvbr0" || name.rfind("kvh", 0) == 0;
    }
    if (interfaces) ::if_freenameindex(interfaces);
    if (!ownNetwork) {
        std::cerr << "Run this test through DiscoveryNetns.sh, which builds its network\n";
        return 1;
    }
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
