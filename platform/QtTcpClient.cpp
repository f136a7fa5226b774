#include "QtTcpClient.h"

#include "core/ports/ChannelError.h"

namespace kv {

namespace {
constexpr auto kSendWait = std::chrono::milliseconds(5000);
// A peer that does not answer the FIN in time is cut off.
constexpr auto kCloseWait = std::chrono::milliseconds(1000);

int ms(std::chrono::milliseconds d) {
    return static_cast<int>(d.count());
}
}  // namespace

bool QtTcpClient::connect(std::chrono::milliseconds timeout) {
    socket_.abort();
    if (port_ <= 0 || port_ > 65535) return false;
    socket_.connectToHost(QString::fromStdString(host_), static_cast<quint16>(port_));
    if (socket_.waitForConnected(ms(timeout))) return true;
    socket_.abort();
    return false;
}

void QtTcpClient::disconnect() {
    if (socket_.state() == QAbstractSocket::ConnectedState) {
        socket_.disconnectFromHost();
        if (socket_.state() != QAbstractSocket::UnconnectedState) {
            socket_.waitForDisconnected(ms(kCloseWait));
        }
    }
    socket_.abort();
}

bool QtTcpClient::connected() const {
    return socket_.state() == QAbstractSocket::ConnectedState;
}

void QtTcpClient::send(ByteView bytes) {
    if (!connected()) throw ChannelError("Socket is not connected.");
    const char* data = reinterpret_cast<const char*>(bytes.data());
    if (socket_.write(data, static_cast<qint64>(bytes.size())) !=
        static_cast<qint64>(bytes.size())) {
        throw ChannelError(socket_.errorString().toStdString());
    }
    while (socket_.bytesToWrite() > 0) {
        if (!socket_.waitForBytesWritten(ms(kSendWait))) {
            throw ChannelError(socket_.errorString().toStdString());
        }
    }
}

bool QtTcpClient::waitForData(std::chrono::milliseconds timeout) {
    if (socket_.bytesAvailable() > 0) return true;
    if (!connected()) return false;
    socket_.waitForReadyRead(ms(timeout));
    return socket_.bytesAvailable() > 0;
}

Bytes QtTcpClient::peek(std::size_t maxBytes) {
    QByteArray data = socket_.peek(static_cast<qint64>(maxBytes));
    return Bytes(data.begin(), data.end());
}

Bytes QtTcpClient::read(std::size_t maxBytes) {
    QByteArray data = socket_.read(static_cast<qint64>(maxBytes));
    return Bytes(data.begin(), data.end());
}

}  // namespace kv
