#include "QtUdpSocket.h"

#include <QHostInfo>
#include <QNetworkDatagram>

#include "core/ports/ChannelError.h"

namespace kv {

namespace {

QHostAddress resolve(const std::string& address) {
    QHostAddress host(QString::fromStdString(address));
    if (!host.isNull()) return host;
    for (const QHostAddress& candidate :
         QHostInfo::fromName(QString::fromStdString(address)).addresses()) {
        if (candidate.protocol() == QAbstractSocket::IPv4Protocol) return candidate;
    }
    throw ChannelError("Host not found: " + address);
}

std::string dotted(const QHostAddress& address) {
    bool ok = false;
    quint32 v4 = address.toIPv4Address(&ok);
    return ok ? QHostAddress(v4).toString().toStdString() : address.toString().toStdString();
}

}  // namespace

bool QtUdpSocket::bind(std::uint16_t localPort, bool /*broadcast*/) {
    if (isBound()) socket_.close();
    // Shared so that a simulator on the same machine can hold the module ports next to us.
    return socket_.bind(QHostAddress::AnyIPv4, localPort,
                        QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint);
}

void QtUdpSocket::sendTo(const std::string& address, std::uint16_t port, ByteView data) {
    QHostAddress host = resolve(address);
    // A send the network refuses (no route, e.g. a broadcast one level above the subnet)
    // leaves QUdpSocket with an error that makes its next timed-out wait close the socket,
    // dropping what it would still receive. A UDP connect only looks up the route, so a
    // throw-away socket finds out first and sends nothing.
    QUdpSocket probe;
    probe.connectToHost(host, port);
    if (probe.state() != QAbstractSocket::ConnectedState) {
        throw ChannelError(probe.errorString().toStdString());
    }
    qint64 sent = socket_.writeDatagram(reinterpret_cast<const char*>(data.data()),
                                        static_cast<qint64>(data.size()), host, port);
    if (sent != static_cast<qint64>(data.size())) {
        throw ChannelError(socket_.errorString().toStdString());
    }
}

std::optional<Datagram> QtUdpSocket::receive(std::chrono::milliseconds timeout) {
    if (!socket_.hasPendingDatagrams()) {
        if (!isBound()) return std::nullopt;
        socket_.waitForReadyRead(static_cast<int>(timeout.count()));
        if (!socket_.hasPendingDatagrams()) return std::nullopt;
    }
    QNetworkDatagram in = socket_.receiveDatagram();
    if (!in.isValid()) return std::nullopt;
    QByteArray data = in.data();
    return Datagram{dotted(in.senderAddress()), static_cast<std::uint16_t>(in.senderPort()),
                    Bytes(data.begin(), data.end())};
}

std::string QtUdpSocket::addressOf(const std::string& host) {
    return dotted(resolve(host));
}

}  // namespace kv
