#pragma once

#include <deque>
#include <memory>
#include <vector>

#include "Peers.h"
#include "World.h"

namespace kv::test {

// A device that answers each chunk it receives with the next scripted reply (nothing
// once the script is used up) and keeps what it received.
struct Script {
    std::deque<Bytes> replies;
    std::vector<Bytes> received;
};

class ScriptedPeer : public sim::StreamPeer {
  public:
    explicit ScriptedPeer(Script& script) : script_(script) {}
    Bytes receive(ByteView data) override {
        script_.received.emplace_back(data.begin(), data.end());
        if (script_.replies.empty()) return {};
        Bytes out = std::move(script_.replies.front());
        script_.replies.pop_front();
        return out;
    }

  private:
    Script& script_;
};

inline void listenScripted(sim::World& world, const std::string& address, std::uint16_t port,
                           Script& script) {
    world.listenTcp(address, port, [&script] { return std::make_unique<ScriptedPeer>(script); });
}

}  // namespace kv::test
