#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "VirtualClock.h"
#include "World.h"
#include "core/ports/Ports.h"

namespace kv::test {

// Channel fakes that route the tool's traffic to the simulated devices of a World.
// Replies arrive at once; a wait on a silent peer advances the virtual clock by the
// whole time-out and reports the time-out. Every byte sent is kept in `sent`.

class FakeTcpClient : public TcpClient {
  public:
    FakeTcpClient(sim::World& world, VirtualClock& clock) : world_(world), clock_(clock) {}

    void setHost(const std::string& host) override { host_ = host; }
    void setPort(int port) override { port_ = port; }
    std::string host() const override { return host_; }
    int port() const override { return port_; }
    bool connect(std::chrono::milliseconds timeout) override;
    void disconnect() override;
    bool connected() const override;
    void send(ByteView bytes) override;
    bool waitForData(std::chrono::milliseconds timeout) override;
    Bytes peek(std::size_t maxBytes) override;
    Bytes read(std::size_t maxBytes) override;

    std::vector<Bytes> sent;  // one entry per send()
    int connectCount = 0;

  private:
    sim::World& world_;
    VirtualClock& clock_;
    std::string host_;
    int port_ = 0;
    std::unique_ptr<sim::StreamPeer> peer_;
    std::deque<std::uint8_t> rx_;
};

class FakeStreamSocket : public StreamSocket {
  public:
    FakeStreamSocket(sim::World& world, VirtualClock& clock) : world_(world), clock_(clock) {}

    void setHost(const std::string& host) override { host_ = host; }
    void setPort(int port) override { port_ = port; }
    std::string host() const override { return host_; }
    int port() const override { return port_; }
    void open() override;
    bool connected() override { return peer_ && !peer_->closed(); }
    void close() override;
    void send(ByteView bytes) override;
    Bytes poll() override;

    std::vector<Bytes> sent;

  private:
    sim::World& world_;
    VirtualClock& clock_;
    std::string host_;
    int port_ = 10001;
    std::unique_ptr<sim::StreamPeer> peer_;
    Bytes rx_;
};

class FakeSerialPort : public SerialPort {
  public:
    FakeSerialPort(sim::World& world, VirtualClock& clock) : world_(world), clock_(clock) {}

    void setName(const std::string& name) override { name_ = name; }
    std::string name() const override { return name_; }
    void open() override;
    void close() override { peer_ = nullptr; }
    bool isOpen() const override { return peer_ != nullptr; }
    void setBaud(int baud) override;
    int baud() const override { return line_.baud; }
    void setParity(Parity parity) override;
    Parity parity() const override { return line_.parity; }
    void write(ByteView bytes) override;
    Bytes read(std::size_t maxBytes, std::chrono::milliseconds totalTimeout) override;
    Bytes poll() override;

    std::vector<Bytes> sent;
    std::vector<sim::LineSettings> lineHistory;  // the setting at every write

  private:
    sim::World& world_;
    VirtualClock& clock_;
    std::string name_ = "COM1";
    sim::LineSettings line_;
    sim::StreamPeer* peer_ = nullptr;
    std::deque<std::uint8_t> rx_;
};

class FakeUdpSocket : public UdpSocket {
  public:
    FakeUdpSocket(sim::World& world, VirtualClock& clock, std::string ownAddress = "127.0.0.1")
        : world_(world), clock_(clock), ownAddress_(std::move(ownAddress)) {}

    bool bind(std::uint16_t localPort, bool broadcast) override;
    bool isBound() const override { return bound_; }
    void close() override { bound_ = false; }
    void sendTo(const std::string& address, std::uint16_t port, ByteView data) override;
    std::optional<Datagram> receive(std::chrono::milliseconds timeout) override;

    std::vector<Datagram> sent;
    bool failBind = false;
    std::vector<std::string> unreachable;  // destinations whose sendTo throws
    std::deque<Datagram> inbox;  // tests may also inject datagrams here; senders as received

  private:
    sim::World& world_;
    VirtualClock& clock_;
    std::string ownAddress_;
    std::uint16_t localPort_ = 0;
    bool bound_ = false;
};

class FakeSystemInfo : public SystemInfo {
  public:
    explicit FakeSystemInfo(sim::World& world) : world_(world) {}
    std::vector<std::string> localIPv4Addresses() override { return world_.localAddresses; }
    std::vector<std::string> serialPortCandidates() override;
    bool trySerialPort(const std::string& name) override;

    std::vector<std::string> heldPorts;    // ports "another program" holds open
    std::vector<std::string> deniedPorts;  // ports this user may not open

  private:
    sim::World& world_;
};

}  // namespace kv::test
