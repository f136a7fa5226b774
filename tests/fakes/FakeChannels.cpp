#include "FakeChannels.h"

#include "core/ports/AccessDenied.h"

#include <algorithm>

#include "core/ports/ChannelError.h"

namespace kv::test {

namespace {

void appendAll(std::deque<std::uint8_t>& rx, const Bytes& bytes) {
    rx.insert(rx.end(), bytes.begin(), bytes.end());
}

Bytes take(std::deque<std::uint8_t>& rx, std::size_t maxBytes) {
    std::size_t n = std::min(maxBytes, rx.size());
    Bytes out(rx.begin(), rx.begin() + static_cast<std::ptrdiff_t>(n));
    rx.erase(rx.begin(), rx.begin() + static_cast<std::ptrdiff_t>(n));
    return out;
}

}  // namespace

// ---- FakeTcpClient

bool FakeTcpClient::connect(std::chrono::milliseconds timeout) {
    ++connectCount;
    rx_.clear();
    peer_ = world_.connectTcp(host_, static_cast<std::uint16_t>(port_));
    if (!peer_) {
        clock_.advance(timeout);
        return false;
    }
    return true;
}

void FakeTcpClient::disconnect() {
    peer_.reset();
    rx_.clear();
}

bool FakeTcpClient::connected() const {
    return peer_ && !peer_->closed();
}

void FakeTcpClient::send(ByteView bytes) {
    if (!connected()) throw ChannelError("Socket Error # 10057\nSocket is not connected.");
    sent.emplace_back(bytes.begin(), bytes.end());
    appendAll(rx_, peer_->receive(bytes));
}

bool FakeTcpClient::waitForData(std::chrono::milliseconds timeout) {
    if (!rx_.empty()) return true;
    clock_.advance(timeout);
    return false;
}

Bytes FakeTcpClient::peek(std::size_t maxBytes) {
    std::size_t n = std::min(maxBytes, rx_.size());
    return Bytes(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(n));
}

Bytes FakeTcpClient::read(std::size_t maxBytes) {
    return take(rx_, maxBytes);
}

// ---- FakeStreamSocket

void FakeStreamSocket::open() {
    peer_ = world_.connectTcp(host_, static_cast<std::uint16_t>(port_));
    rx_.clear();
}

void FakeStreamSocket::close() {
    peer_.reset();
    rx_.clear();
}

void FakeStreamSocket::send(ByteView bytes) {
    if (!connected()) throw ChannelError("Socket Error # 10057\nSocket is not connected.");
    sent.emplace_back(bytes.begin(), bytes.end());
    Bytes reply = peer_->receive(bytes);
    rx_.insert(rx_.end(), reply.begin(), reply.end());
}

Bytes FakeStreamSocket::poll() {
    Bytes out;
    out.swap(rx_);
    return out;
}

// ---- FakeSerialPort

void FakeSerialPort::open() {
    peer_ = world_.serialPeer(name_);
    if (!peer_) throw ChannelError("Unable to open com-port " + name_);
    rx_.clear();
    peer_->lineChanged(line_);
}

void FakeSerialPort::setBaud(int baud) {
    line_.baud = baud;
    if (peer_) peer_->lineChanged(line_);
}

void FakeSerialPort::setParity(Parity parity) {
    line_.parity = parity;
    if (peer_) peer_->lineChanged(line_);
}

void FakeSerialPort::write(ByteView bytes) {
    if (!peer_) throw ChannelError("Com port " + name_ + " is not open");
    sent.emplace_back(bytes.begin(), bytes.end());
    lineHistory.push_back(line_);
    appendAll(rx_, peer_->receive(bytes));
}

Bytes FakeSerialPort::read(std::size_t maxBytes, std::chrono::milliseconds totalTimeout) {
    // Replies are instant, so a read that cannot be satisfied now waits out its time-out.
    if (rx_.size() < maxBytes) clock_.advance(totalTimeout);
    return take(rx_, maxBytes);
}

Bytes FakeSerialPort::poll() {
    return take(rx_, rx_.size());
}

// ---- FakeUdpSocket

bool FakeUdpSocket::bind(std::uint16_t localPort, bool) {
    if (failBind) return false;
    localPort_ = localPort;
    bound_ = true;
    return true;
}

void FakeUdpSocket::sendTo(const std::string& address, std::uint16_t port, ByteView data) {
    if (std::find(unreachable.begin(), unreachable.end(), address) != unreachable.end()) {
        throw ChannelError("Socket Error # 10051\nNetwork is unreachable.");
    }
    Datagram out{address, port, Bytes(data.begin(), data.end())};
    sent.push_back(out);
    Datagram fromTool{ownAddress_, localPort_, out.data};
    for (sim::DatagramPeer* peer : world_.udpPeers(address, port)) {
        // What the tool receives names the peer as its sender, as a real socket would.
        std::string peerAddress = address;
        for (const auto& [key, bound] : world_.udpBindings())
            if (bound == peer && key.second == port) peerAddress = key.first;
        for (Datagram& answer : peer->receive(fromTool)) {
            answer.address = peerAddress;
            answer.port = port;
            inbox.push_back(std::move(answer));
        }
    }
}

std::optional<Datagram> FakeUdpSocket::receive(std::chrono::milliseconds timeout) {
    if (inbox.empty()) {
        clock_.advance(timeout);
        return std::nullopt;
    }
    Datagram d = std::move(inbox.front());
    inbox.pop_front();
    return d;
}

// ---- FakeSystemInfo

std::vector<std::string> FakeSystemInfo::serialPortCandidates() {
    std::vector<std::string> names = world_.serialPorts();
    for (const auto& held : heldPorts)
        if (std::find(names.begin(), names.end(), held) == names.end()) names.push_back(held);
    std::sort(names.begin(), names.end());
    if (names.size() > 20) names.resize(20);
    return names;
}

bool FakeSystemInfo::trySerialPort(const std::string& name) {
    if (std::find(heldPorts.begin(), heldPorts.end(), name) != heldPorts.end()) return false;
    if (std::find(deniedPorts.begin(), deniedPorts.end(), name) != deniedPorts.end())
        throw AccessDenied("no rights on " + name);
    return world_.serialPeer(name) != nullptr;
}

}  // namespace kv::test
