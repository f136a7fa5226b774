#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Peers.h"

namespace kv::sim {

// An in-process network of simulated devices: who listens on which TCP and UDP
// address and port, and which device sits on which serial port. The fake channels of
// the tests and the kvsim server both route the tool's traffic through it.
class World {
public:
    using StreamFactory = std::function<std::unique_ptr<StreamPeer>()>;

    void listenTcp(const std::string& address, std::uint16_t port, StreamFactory factory);
    void stopListening(const std::string& address, std::uint16_t port);
    void bindUdp(const std::string& address, std::uint16_t port, DatagramPeer* peer);
    void attachSerial(const std::string& portName, StreamPeer* peer);
    void detachSerial(const std::string& portName);

    // A new connection's peer, or nullptr when nobody listens there.
    std::unique_ptr<StreamPeer> connectTcp(const std::string& address, std::uint16_t port) const;
    // Peers a datagram to address:port reaches: the one bound there, or for a broadcast
    // address (a.b.c.255, a.b.255.255, 255.255.255.255) every peer on that port whose
    // address lies in the broadcast's range.
    std::vector<DatagramPeer*> udpPeers(const std::string& address, std::uint16_t port) const;
    StreamPeer* serialPeer(const std::string& portName) const;
    std::vector<std::string> serialPorts() const;

    // The tool's own interface addresses (for the fake SystemInfo).
    std::vector<std::string> localAddresses;

    const std::map<std::pair<std::string, std::uint16_t>, StreamFactory>& tcpListeners() const {
        return tcp_;
    }
    const std::map<std::pair<std::string, std::uint16_t>, DatagramPeer*>& udpBindings() const {
        return udp_;
    }
    const std::map<std::string, StreamPeer*>& serialLines() const { return serial_; }

private:
    std::map<std::pair<std::string, std::uint16_t>, StreamFactory> tcp_;
    std::map<std::pair<std::string, std::uint16_t>, DatagramPeer*> udp_;
    std::map<std::string, StreamPeer*> serial_;
};

// True when `address` lies in the range of the broadcast address (or equals it).
bool inBroadcastRange(const std::string& broadcast, const std::string& address);

}  // namespace kv::sim
