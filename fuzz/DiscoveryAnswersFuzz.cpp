// The datagrams that arrive on the discovery port during one FIND, from any address on
// the segment: module answers (F7), set-up record answers (F9) and anything else.
#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "FuzzRig.h"
#include "Peers.h"
#include "discovery/Discovery.h"
#include "discovery/DiscoveryMessages.h"

namespace {

using kv::Bytes;
using kv::ByteView;

constexpr const char* kLocalAddress = "10.0.0.99";

// Senders: a few modules, one of them the tool's own address (its broadcast comes back).
std::string sender(std::uint8_t code) {
    const int n = code % 8;
    return n == 7 ? kLocalAddress : "10.0.0." + std::to_string(n + 1);
}

// A module whose tunnel answers every question with a short line.
class TunnelPeer : public kv::sim::StreamPeer {
  public:
    Bytes receive(ByteView) override { return {'o', 'k', '\r'}; }
};

kv::test::FakeRig& rig() {
    static kv::test::FakeRig& r = []() -> kv::test::FakeRig& {
        auto& made = kv::fuzz::sharedRig();
        // Only the odd modules have a working tunnel; the others fail the exchange.
        for (int n = 1; n <= 7; n += 2) {
            for (int port = 0; port < 4; ++port) {
                made.world.listenTcp("10.0.0." + std::to_string(n),
                                     static_cast<std::uint16_t>(10001 + port),
                                     [] { return std::make_unique<TunnelPeer>(); });
            }
        }
        made.state.DebugSwitch = "OFF";  // the per-answer detail lines would fill the log
        // FIND's broadcast goes out of this interface, so any module may answer.
        made.world.localAddresses = {kLocalAddress};
        return made;
    }();
    return r;
}

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

void checkMac(const std::string& mac) {
    FUZZ_CHECK(mac.size() == 17);
    for (std::size_t i = 0; i < mac.size(); ++i) {
        FUZZ_CHECK(i % 3 == 2 ? mac[i] == '-' : isHex(mac[i]));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto& r = rig();
    const kv::fuzz::FreshRun run;
    r.state.CurrentIP = "0.0.0.0";
    kv::FindDevices(r.ctx);
    FUZZ_CHECK(r.state.LocalIP == kLocalAddress);
    r.udpServer.sent.clear();

    // What the answers should leave: per sender, its first module answer and its first
    // set-up record answer after it (the record is asked for once the module answered;
    // an answer nobody asked for counts for nothing).
    std::vector<std::string> moduleOrder;
    std::map<std::string, kv::ModuleAnswer> firstModule;
    std::map<std::string, int> firstSetup;
    std::vector<std::string> setupOrder;

    // Each datagram: sender code, length, bytes.
    std::size_t i = 0;
    while (i + 2 <= size) {
        kv::Datagram datagram;
        datagram.address = sender(data[i]);
        datagram.port = kv::kDiscoveryPort;
        const std::size_t length = std::min<std::size_t>(data[i + 1], size - i - 2);
        datagram.data.assign(data + i + 2, data + i + 2 + length);
        i += 2 + length;

        const auto module = kv::DecodeModuleAnswer(datagram.data);
        const auto setup = kv::DecodeSetupRecordAnswer(datagram.data);
        FUZZ_CHECK(!(module && setup));
        if (setup) FUZZ_CHECK(*setup >= 0 && *setup <= 0xFFFF);
        if (datagram.address != kLocalAddress) {
            if (module && firstModule.emplace(datagram.address, *module).second)
                moduleOrder.push_back(datagram.address);
            if (setup && firstModule.count(datagram.address) &&
                firstSetup.emplace(datagram.address, *setup).second) {
                setupOrder.push_back(datagram.address);
            }
        }
        kv::HandleDiscoveryAnswer(r.ctx, datagram);
    }

    // One device per module, in the order they first answered, as they first answered.
    const auto& devices = r.state.DeviceList;
    FUZZ_CHECK(devices.size() == moduleOrder.size());
    for (std::size_t d = 0; d < devices.size(); ++d) {
        const auto& device = devices[d];
        FUZZ_CHECK(device.IP == moduleOrder[d]);
        FUZZ_CHECK(device.MAC == firstModule[device.IP].MAC);
        FUZZ_CHECK(device.ModuleVersion == firstModule[device.IP].ModuleVersion);
        checkMac(device.MAC);
        // The tunnel port is taken from the first set-up answer once the module is listed.
        const auto setup = firstSetup.find(device.IP);
        if (setup != firstSetup.end()) {
            FUZZ_CHECK(device.Port == setup->second);
        } else {
            FUZZ_CHECK(device.Port == 0);
        }
    }
    // One set-up record query per new module, to that module.
    FUZZ_CHECK(r.udpServer.sent.size() == devices.size());
    for (std::size_t d = 0; d < devices.size(); ++d) {
        FUZZ_CHECK(r.udpServer.sent[d].address == devices[d].IP);
        FUZZ_CHECK(r.udpServer.sent[d].data == kv::SetupRecordQueryMessage());
    }
    // One tree entry per module that sent a set-up record, whatever it repeated.
    const auto& tree = r.state.networkTree;
    FUZZ_CHECK(tree.size() == setupOrder.size());
    for (std::size_t t = 0; t < tree.size(); ++t) {
        FUZZ_CHECK(tree[t].rfind(setupOrder[t] + " ", 0) == 0);
    }
    // At most one error box per FIND.
    FUZZ_CHECK(r.ui.dialogs.size() <= 1);
    return 0;
}
