#include "QtStreamSocket.h"

#include "EventPump.h"
#include "core/ports/ChannelError.h"

namespace kv {

QtStreamSocket::QtStreamSocket() {
    EnsureEventDispatcher();
}

void QtStreamSocket::open() {
    socket_.abort();
    if (port_ <= 0 || port_ > 65535) return;
    socket_.connectToHost(QString::fromStdString(host_), static_cast<quint16>(port_));
}

bool QtStreamSocket::connected() {
    PumpEvents();
    return socket_.state() == QAbstractSocket::ConnectedState;
}

void QtStreamSocket::close() {
    socket_.abort();
}

void QtStreamSocket::send(ByteView bytes) {
    if (socket_.state() != QAbstractSocket::ConnectedState) {
        throw ChannelError("Socket is not connected.");
    }
    const char* data = reinterpret_cast<const char*>(bytes.data());
    if (socket_.write(data, static_cast<qint64>(bytes.size())) !=
        static_cast<qint64>(bytes.size())) {
        throw ChannelError(socket_.errorString().toStdString());
    }
    // What the kernel does not take now goes out as the events are pumped.
    socket_.flush();
}

Bytes QtStreamSocket::poll() {
    PumpEvents();
    // Reading a closed socket only makes Qt complain; there is nothing to take then.
    if (!socket_.isOpen()) return {};
    QByteArray data = socket_.readAll();
    return Bytes(data.begin(), data.end());
}

}  // namespace kv
