#include "WorldServer.h"

#include <algorithm>
#include <chrono>
#include <set>
#include <sstream>
#include <stdexcept>

#include <QNetworkDatagram>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>

#include "PtyLine.h"

namespace kv::sim {

namespace {

constexpr auto kShared = QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint;

std::string dotted(const QHostAddress& address) {
    bool ok = false;
    quint32 v4 = address.toIPv4Address(&ok);
    return ok ? QHostAddress(v4).toString().toStdString() : address.toString().toStdString();
}

std::string endpoint(const char* kind, const std::string& address, std::uint16_t port) {
    return std::string(kind) + " " + address + ":" + std::to_string(port);
}

// The subnet broadcasts a tool on a neighbouring interface sends its queries to.
std::vector<std::string> broadcastsOf(const std::string& address) {
    std::vector<std::string> parts;
    std::stringstream in(address);
    for (std::string part; std::getline(in, part, '.');) parts.push_back(part);
    if (parts.size() != 4) return {};
    return {parts[0] + "." + parts[1] + "." + parts[2] + ".255",
            parts[0] + "." + parts[1] + ".255.255"};
}

using PaceClock = std::chrono::steady_clock;

// Wire time of `bytes` on a line: start bit, 8 data bits, the parity bit if any, stop bit.
PaceClock::duration wireTime(const LineSettings& line, std::size_t bytes) {
    const int bits = line.parity == Parity::None ? 10 : 11;
    return std::chrono::duration_cast<PaceClock::duration>(
        std::chrono::duration<double>(static_cast<double>(bytes) * bits / std::max(line.baud, 1)));
}

// Where one paced connection's two directions of the line are busy until.
struct LineTimes {
    PaceClock::time_point toDevice = PaceClock::now();
    PaceClock::time_point fromDevice = PaceClock::now();
};

}  // namespace

WorldServer::WorldServer(World& world) : world_(world) {}

WorldServer::~WorldServer() = default;

std::uint16_t WorldServer::serveTcp(const std::string& worldAddress, std::uint16_t worldPort,
                                    const std::string& bindAddress, std::uint16_t bindPort) {
    auto* server = new QTcpServer(this);
    if (!server->listen(QHostAddress(QString::fromStdString(bindAddress)), bindPort)) {
        std::string reason = server->errorString().toStdString();
        delete server;
        throw std::runtime_error(endpoint("tcp", bindAddress, bindPort) + ": " + reason);
    }
    connect(server, &QTcpServer::newConnection, this, [this, server, worldAddress, worldPort] {
        while (QTcpSocket* socket = server->nextPendingConnection()) {
            std::shared_ptr<StreamPeer> peer;
            Pace pace;
            {
                std::lock_guard lock(mutex_);
                peer = world_.connectTcp(worldAddress, worldPort);
                auto paced = paced_.find({worldAddress, worldPort});
                if (paced != paced_.end()) pace = paced->second;
            }
            if (!peer) {
                socket->abort();
                socket->deleteLater();
                continue;
            }
            auto times = std::make_shared<LineTimes>();
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket, peer, pace, times] {
                QByteArray data = socket->readAll();
                Bytes reply;
                bool closed = false;
                LineSettings line{0, Parity::None};
                {
                    std::lock_guard lock(mutex_);
                    if (pace.line) line = pace.line();
                    reply =
                        peer->receive(ByteView(reinterpret_cast<const std::uint8_t*>(data.data()),
                                               static_cast<std::size_t>(data.size())));
                    closed = peer->closed();
                }
                auto send = [socket, reply, closed] {
                    if (!reply.empty()) {
                        socket->write(reinterpret_cast<const char*>(reply.data()),
                                      static_cast<qint64>(reply.size()));
                    }
                    if (closed) socket->disconnectFromHost();
                };
                if (line.baud <= 0 && pace.roundTrip.count() == 0) {
                    send();
                    return;
                }
                const auto now = PaceClock::now();
                if (line.baud > 0) {
                    times->toDevice = std::max(times->toDevice, now) +
                                      wireTime(line, static_cast<std::size_t>(data.size()));
                } else {
                    times->toDevice = now;
                }
                if (reply.empty() && !closed) return;
                times->fromDevice =
                    std::max(times->fromDevice, times->toDevice) +
                    (line.baud > 0 ? wireTime(line, reply.size()) : PaceClock::duration::zero());
                const auto due = std::chrono::ceil<std::chrono::milliseconds>(
                    times->fromDevice + pace.roundTrip - PaceClock::now());
                // Timers of one connection fire in the order of their deadlines, which
                // only grow, so replies keep their order.
                QTimer::singleShot(std::max<std::chrono::milliseconds>(due, {}), Qt::PreciseTimer,
                                   socket, send);
            });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    return server->serverPort();
}

void WorldServer::answerDatagrams(QUdpSocket* socket, DatagramPeer* peer) {
    while (socket->hasPendingDatagrams()) {
        QNetworkDatagram in = socket->receiveDatagram();
        QByteArray data = in.data();
        Datagram fromTool{dotted(in.senderAddress()), static_cast<std::uint16_t>(in.senderPort()),
                          Bytes(data.begin(), data.end())};
        std::vector<Datagram> answers;
        {
            std::lock_guard lock(mutex_);
            answers = peer->receive(fromTool);
        }
        for (const Datagram& answer : answers) {
            socket->writeDatagram(reinterpret_cast<const char*>(answer.data.data()),
                                  static_cast<qint64>(answer.data.size()),
                                  QHostAddress(QString::fromStdString(answer.address)),
                                  answer.port);
        }
    }
}

std::uint16_t WorldServer::serveUdp(const std::string& worldAddress, std::uint16_t worldPort,
                                    const std::string& bindAddress, std::uint16_t bindPort) {
    auto it = world_.udpBindings().find({worldAddress, worldPort});
    if (it == world_.udpBindings().end() || !it->second) {
        throw std::runtime_error(endpoint("udp", worldAddress, worldPort) + ": nothing bound");
    }
    DatagramPeer* peer = it->second;
    auto* socket = new QUdpSocket(this);
    if (!socket->bind(QHostAddress(QString::fromStdString(bindAddress)), bindPort, kShared)) {
        std::string reason = socket->errorString().toStdString();
        delete socket;
        throw std::runtime_error(endpoint("udp", bindAddress, bindPort) + ": " + reason);
    }
    udpSockets_[{worldAddress, worldPort}] = socket;
    connect(socket, &QUdpSocket::readyRead, this,
            [this, socket, peer] { answerDatagrams(socket, peer); });
    return socket->localPort();
}

void WorldServer::answerBroadcasts(QUdpSocket* socket, const std::string& broadcast,
                                   std::uint16_t port) {
    while (socket->hasPendingDatagrams()) {
        QNetworkDatagram in = socket->receiveDatagram();
        QByteArray data = in.data();
        Datagram fromTool{dotted(in.senderAddress()), static_cast<std::uint16_t>(in.senderPort()),
                          Bytes(data.begin(), data.end())};
        std::vector<std::pair<QUdpSocket*, Datagram>> answers;
        {
            std::lock_guard lock(mutex_);
            for (const auto& [key, peer] : world_.udpBindings()) {
                if (key.second != port || !peer || !inBroadcastRange(broadcast, key.first))
                    continue;
                auto own = udpSockets_.find(key);
                if (own == udpSockets_.end()) continue;
                // Each device answers from its own address, as a real one does.
                for (Datagram& answer : peer->receive(fromTool))
                    answers.emplace_back(own->second, std::move(answer));
            }
        }
        for (const auto& [from, answer] : answers) {
            from->writeDatagram(reinterpret_cast<const char*>(answer.data.data()),
                                static_cast<qint64>(answer.data.size()),
                                QHostAddress(QString::fromStdString(answer.address)), answer.port);
        }
    }
}

std::vector<std::string> WorldServer::serveAll() {
    std::vector<std::string> lines;
    for (const auto& [key, factory] : world_.tcpListeners()) {
        serveTcp(key.first, key.second, key.first, key.second);
        lines.push_back(endpoint("tcp", key.first, key.second));
    }
    std::set<std::pair<std::string, std::uint16_t>> broadcasts;
    for (const auto& [key, peer] : world_.udpBindings()) {
        if (!peer) continue;
        serveUdp(key.first, key.second, key.first, key.second);
        lines.push_back(endpoint("udp", key.first, key.second));
        for (const std::string& b : broadcastsOf(key.first)) broadcasts.insert({b, key.second});
    }
    for (const auto& [address, port] : broadcasts) {
        auto* socket = new QUdpSocket(this);
        if (!socket->bind(QHostAddress(QString::fromStdString(address)), port, kShared)) {
            delete socket;  // not every broadcast address can be bound everywhere
            continue;
        }
        connect(socket, &QUdpSocket::readyRead, this,
                [this, socket, address = address, port = port] {
                    answerBroadcasts(socket, address, port);
                });
        lines.push_back(endpoint("udp broadcast", address, port));
    }
    return lines;
}

void WorldServer::paceTcp(const std::string& worldAddress, std::uint16_t worldPort, LineOf line,
                          std::chrono::milliseconds roundTrip) {
    std::lock_guard lock(mutex_);
    paced_[{worldAddress, worldPort}] = {std::move(line), roundTrip};
}

std::string WorldServer::servePty(const std::string& portName, const std::string& linkPath) {
    StreamPeer* peer = world_.serialPeer(portName);
    if (!peer) throw std::runtime_error("no device on serial line " + portName);
    ptys_.push_back(std::make_unique<PtyLine>(*peer, mutex_, linkPath));
    return ptys_.back()->slavePath();
}

}  // namespace kv::sim
