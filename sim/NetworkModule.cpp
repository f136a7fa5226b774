#include "NetworkModule.h"

#include <cstdio>

namespace kv::sim {

namespace {

constexpr std::uint8_t kModuleQuery = 0xF6;
constexpr std::uint8_t kModuleAnswer = 0xF7;
constexpr std::uint8_t kRecordQuery = 0xF8;
constexpr std::uint8_t kRecordStore = 0xFA;
constexpr std::uint8_t kRecordStored = 0xFB;
constexpr std::size_t kModuleAnswerSize = 30;
constexpr std::size_t kQuerySize = 4;
constexpr std::size_t kMacOffset = 24;

class SetupSession : public StreamPeer {
  public:
    explicit SetupSession(NetworkModule& module) : module_(module) {}
    Bytes receive(ByteView data) override {
        pending_.insert(pending_.end(), data.begin(), data.end());
        return module_.setupReceive(pending_);
    }

  private:
    NetworkModule& module_;
    Bytes pending_;
};

class TunnelSession : public StreamPeer {
  public:
    explicit TunnelSession(NetworkModule& module) : module_(module) {}
    Bytes receive(ByteView data) override { return module_.tunnelReceive(data); }

  private:
    NetworkModule& module_;
};

}  // namespace

class NetworkModule::DiscoveryPort : public DatagramPeer {
  public:
    explicit DiscoveryPort(NetworkModule& module) : module_(module) {}
    std::vector<Datagram> receive(const Datagram& fromTool) override {
        return module_.discoveryReceive(fromTool);
    }

  private:
    NetworkModule& module_;
};

NetworkModule::NetworkModule() : NetworkModule(Config{}) {}

NetworkModule::NetworkModule(Config config)
    : config_(std::move(config)),
      record_(config_.tunnelPort, config_.serialLine),
      discovery_(std::make_unique<DiscoveryPort>(*this)) {
    gpio_.changed = [this] { refreshLine(); };
    notified_ = serialLine();
}

NetworkModule::~NetworkModule() = default;

void NetworkModule::attach(World& world) {
    world.bindUdp(config_.address, kDiscoveryPort, discovery_.get());
    world.bindUdp(config_.address, ModuleGpio::kPort, &gpio_);
    world.listenTcp(config_.address, kSetupPort,
                    [this] { return std::make_unique<SetupSession>(*this); });
    world.listenTcp(config_.address, record_.tunnelPort(),
                    [this] { return std::make_unique<TunnelSession>(*this); });
}

void NetworkModule::setSerialDevice(StreamPeer* device) {
    device_ = device;
    notified_ = serialLine();
    if (device_) device_->lineChanged(notified_);
}

LineSettings NetworkModule::serialLine() const {
    if (gpio_.bootloaderMode()) return gpio_.bootloaderLine();
    return record_.serialLine().value_or(LineSettings{0, Parity::None});
}

void NetworkModule::setSilent(bool silent) {
    silent_ = silent;
    gpio_.silent = silent;
}

void NetworkModule::refreshLine() {
    LineSettings line = serialLine();
    if (line == notified_) return;
    notified_ = line;
    lineHistory.push_back(line);
    if (device_) device_->lineChanged(line);
}

void NetworkModule::setVersion(std::uint8_t high, std::uint8_t low) {
    config_.versionHigh = high;
    config_.versionLow = low;
}

std::string NetworkModule::versionText(std::uint8_t high, std::uint8_t low) {
    char text[16];
    std::snprintf(text, sizeof text, "%X.%X.0", high, low);
    return text;
}

std::optional<std::array<std::uint8_t, 2>> NetworkModule::parseVersionText(
    const std::string& text) {
    const std::string version = text.rfind("FW:", 0) == 0 ? text.substr(3) : text;
    unsigned high = 0, low = 0;
    char end = 0;
    if (std::sscanf(version.c_str(), "%2X.%2X.0%c", &high, &low, &end) != 2) return std::nullopt;
    // Only the form versionText writes.
    if (versionText(static_cast<std::uint8_t>(high), static_cast<std::uint8_t>(low)) != version)
        return std::nullopt;
    return std::array<std::uint8_t, 2>{static_cast<std::uint8_t>(high),
                                       static_cast<std::uint8_t>(low)};
}

std::vector<Datagram> NetworkModule::discoveryReceive(const Datagram& fromTool) {
    if (silent_) {
        ++unansweredDiscovery;
        return {};
    }
    discoveryQueries.push_back(fromTool.data);
    const Bytes& q = fromTool.data;
    if (q.size() != kQuerySize) return {};
    if (q[3] == kModuleQuery) {
        Bytes answer(kModuleAnswerSize, 0x00);
        answer[3] = kModuleAnswer;
        answer[6] = config_.versionLow;
        answer[7] = config_.versionHigh;
        for (std::size_t i = 0; i < config_.mac.size(); ++i)
            answer[kMacOffset + i] = config_.mac[i];
        return {Datagram{fromTool.address, fromTool.port, answer}};
    }
    if (q[3] == kRecordQuery) return {Datagram{fromTool.address, fromTool.port, record_.answer()}};
    return {};
}

Bytes NetworkModule::setupReceive(Bytes& pending) {
    Bytes out;
    while (pending.size() >= kQuerySize) {
        if (silent_) {
            ++unansweredSetup;
            pending.clear();
            break;
        }
        const std::uint8_t code = pending[3];
        if (code == kRecordQuery) {
            setupRequests.emplace_back(pending.begin(), pending.begin() + kQuerySize);
            pending.erase(pending.begin(), pending.begin() + kQuerySize);
            Bytes record = record_.answer();
            out.insert(out.end(), record.begin(), record.end());
        } else if (code == kRecordStore) {
            if (pending.size() < ModuleRecord::kSize) break;
            Bytes record(pending.begin(), pending.begin() + ModuleRecord::kSize);
            pending.erase(pending.begin(), pending.begin() + ModuleRecord::kSize);
            storedRecords.push_back(record);
            record_.store(record);
            refreshLine();
            Bytes ack{0x00, 0x00, 0x00, kRecordStored};
            out.insert(out.end(), ack.begin(), ack.end());
        } else {
            ++rejectedSetup;
            pending.clear();
        }
    }
    return out;
}

Bytes NetworkModule::tunnelReceive(ByteView data) {
    if (silentTunnel || !device_) {
        droppedTunnelBytes += data.size();
        return {};
    }
    tunnelBytes.emplace_back(data.begin(), data.end());
    return device_->receive(data);
}

}  // namespace kv::sim
