#include "World.h"

#include <sstream>

namespace kv::sim {

namespace {

std::vector<std::string> octets(const std::string& address) {
    std::vector<std::string> parts;
    std::stringstream in(address);
    std::string part;
    while (std::getline(in, part, '.')) parts.push_back(part);
    return parts;
}

}  // namespace

bool inBroadcastRange(const std::string& broadcast, const std::string& address) {
    auto b = octets(broadcast);
    auto a = octets(address);
    if (b.size() != 4 || a.size() != 4) return false;
    for (std::size_t i = 0; i < 4; ++i) {
        if (b[i] != "255" && b[i] != a[i]) return false;
    }
    return true;
}

void World::listenTcp(const std::string& address, std::uint16_t port, StreamFactory factory) {
    tcp_[{address, port}] = std::move(factory);
}

void World::stopListening(const std::string& address, std::uint16_t port) {
    tcp_.erase({address, port});
}

void World::bindUdp(const std::string& address, std::uint16_t port, DatagramPeer* peer) {
    udp_[{address, port}] = peer;
}

void World::attachSerial(const std::string& portName, StreamPeer* peer) {
    serial_[portName] = peer;
}

void World::detachSerial(const std::string& portName) { serial_.erase(portName); }

std::unique_ptr<StreamPeer> World::connectTcp(const std::string& address,
                                              std::uint16_t port) const {
    auto it = tcp_.find({address, port});
    if (it == tcp_.end()) return nullptr;
    return it->second();
}

std::vector<DatagramPeer*> World::udpPeers(const std::string& address, std::uint16_t port) const {
    std::vector<DatagramPeer*> peers;
    bool broadcast = address.size() > 4 && address.compare(address.size() - 4, 4, ".255") == 0;
    for (const auto& [key, peer] : udp_) {
        if (key.second != port) continue;
        if (key.first == address ||
            (broadcast && inBroadcastRange(address, key.first))) {
            peers.push_back(peer);
        }
    }
    return peers;
}

StreamPeer* World::serialPeer(const std::string& portName) const {
    auto it = serial_.find(portName);
    return it == serial_.end() ? nullptr : it->second;
}

std::vector<std::string> World::serialPorts() const {
    std::vector<std::string> names;
    for (const auto& entry : serial_) names.push_back(entry.first);
    return names;
}

}  // namespace kv::sim
