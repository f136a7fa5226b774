#include "CardBus.h"

#include <algorithm>

namespace kv::sim {

void CardBus::tell(StreamPeer* peer) {
    if (peer && line_) peer->lineChanged(*line_);
}

void CardBus::attach(int selectCode, StreamPeer* peer) {
    bySelectCode_[selectCode & 0x07] = peer;
    tell(peer);
}

void CardBus::attachByShiftRegister(std::uint16_t value, StreamPeer* peer) {
    byRegister_[value & ModuleGpio::kRegisterMask] = peer;
    tell(peer);
}

void CardBus::attachAlways(StreamPeer* peer) {
    always_.push_back(peer);
    tell(peer);
}

void CardBus::setDefault(StreamPeer* peer) {
    default_ = peer;
    tell(peer);
}

CardBus::Selection CardBus::selection() const {
    Selection s;
    if (gpio_) {
        s.selectCode = gpio_->selectCode();
        s.shiftRegister = gpio_->latched();
    }
    s.line = line_.value_or(LineSettings{});
    return s;
}

StreamPeer* CardBus::selected() const {
    const Selection s = selection();
    if (router_) return router_(s);
    if (s.shiftRegister) {
        auto it = byRegister_.find(*s.shiftRegister);
        if (it != byRegister_.end()) return it->second;
    }
    if (gpio_) {
        auto it = bySelectCode_.find(s.selectCode);
        if (it != bySelectCode_.end()) return it->second;
    }
    return default_;
}

Bytes CardBus::receive(ByteView data) {
    Bytes out;
    StreamPeer* target = selected();
    std::vector<StreamPeer*> hearers = always_;
    if (target && std::find(hearers.begin(), hearers.end(), target) == hearers.end()) {
        hearers.push_back(target);
    }
    if (hearers.empty()) unroutedBytes += data.size();
    for (StreamPeer* peer : hearers) {
        deliveries.push_back({peer, Bytes(data.begin(), data.end())});
        Bytes reply = peer->receive(data);
        out.insert(out.end(), reply.begin(), reply.end());
    }
    return out;
}

void CardBus::lineChanged(const LineSettings& line) {
    line_ = line;
    std::vector<StreamPeer*> peers = always_;
    for (const auto& [code, peer] : bySelectCode_) peers.push_back(peer);
    for (const auto& [value, peer] : byRegister_) peers.push_back(peer);
    peers.push_back(default_);
    std::sort(peers.begin(), peers.end());
    peers.erase(std::unique(peers.begin(), peers.end()), peers.end());
    for (StreamPeer* peer : peers)
        if (peer) peer->lineChanged(line);
}

}  // namespace kv::sim
