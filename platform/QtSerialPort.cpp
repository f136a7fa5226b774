#include "QtSerialPort.h"

#include <chrono>
#include <cstring>

#include <QDebug>

#ifdef Q_OS_UNIX
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#endif

#include "EventPump.h"
#include "core/ports/ChannelError.h"

namespace kv {

namespace {
constexpr auto kWriteWait = std::chrono::milliseconds(2000);

int ms(std::chrono::milliseconds d) {
    return static_cast<int>(d.count());
}
}  // namespace

QtSerialPort::QtSerialPort() {
    EnsureEventDispatcher();
}

void QtSerialPort::warn(const std::string& text) {
    if (warn_) {
        warn_(text);
    } else {
        qWarning("%s", text.c_str());
    }
}

void QtSerialPort::open() {
    port_.close();
    port_.setPortName(QString::fromStdString(name_));
    if (!port_.open(QIODevice::ReadWrite)) {
        std::string reason = port_.errorString().toStdString();
        port_.clearError();
        throw ChannelError("Unable to open com-port " + name_ + ": " + reason);
    }
    port_.setDataBits(QSerialPort::Data8);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    applyBaud();
    applyParity();
    // Some adapters wire DTR/RTS to the device's reset and boot lines.
    port_.setDataTerminalReady(false);
    port_.setRequestToSend(false);
    port_.clearError();
    port_.clear();
}

void QtSerialPort::close() {
    if (port_.isOpen()) port_.close();
}

void QtSerialPort::applyBaud() {
    if (port_.isOpen() && !port_.setBaudRate(baud_)) {
        warn("Com port " + name_ + " refused " + std::to_string(baud_) +
             " bit/s: " + port_.errorString().toStdString());
        port_.clearError();
    }
}

void QtSerialPort::applyParity() {
    if (!port_.isOpen()) return;
    const auto wanted = parity_ == Parity::Even ? QSerialPort::EvenParity : QSerialPort::NoParity;
    if (!port_.setParity(wanted) || port_.parity() != wanted) {
        warn("Com port " + name_ + " refused " +
             (parity_ == Parity::Even ? "even parity" : "no parity") + ": " +
             port_.errorString().toStdString());
        port_.clearError();
    }
}

void QtSerialPort::setBaud(int baud) {
    baud_ = baud;
    applyBaud();
}

void QtSerialPort::setParity(Parity parity) {
    parity_ = parity;
    applyParity();
}

void QtSerialPort::write(ByteView bytes) {
    if (!port_.isOpen()) throw ChannelError("Com port " + name_ + " is not open");
#ifdef Q_OS_UNIX
    // Straight to the driver while Qt holds nothing back (so the order is kept): one
    // system call per frame. Through QSerialPort every frame arms and disarms its write
    // notifier, which wakes the thread's event loop twice and costs a poll before the
    // bytes leave; on a stop-and-wait protocol that is paid on every exchange.
    if (port_.bytesToWrite() == 0) {
        writeToDriver(bytes);
        return;
    }
#endif
    const char* data = reinterpret_cast<const char*>(bytes.data());
    if (port_.write(data, static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size())) {
        throw ChannelError(port_.errorString().toStdString());
    }
    while (port_.bytesToWrite() > 0) {
        if (!port_.waitForBytesWritten(ms(kWriteWait))) {
            throw ChannelError("Write to " + name_ + " timed out");
        }
    }
}

#ifdef Q_OS_UNIX
void QtSerialPort::writeToDriver(ByteView bytes) {
    const int fd = static_cast<int>(port_.handle());
    const auto deadline = std::chrono::steady_clock::now() + kWriteWait;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            throw ChannelError("Write to " + name_ + " failed: " + std::strerror(errno));
        }
        // The driver's buffer is full: wait until it takes more, within the write wait.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) throw ChannelError("Write to " + name_ + " timed out");
        pollfd writable{fd, POLLOUT, 0};
        ::poll(&writable, 1, ms(left));
    }
}
#endif

Bytes QtSerialPort::read(std::size_t maxBytes, std::chrono::milliseconds totalTimeout) {
    Bytes out;
    if (!port_.isOpen()) return out;
    const auto deadline = std::chrono::steady_clock::now() + totalTimeout;
    for (;;) {
        QByteArray data = port_.read(static_cast<qint64>(maxBytes - out.size()));
        out.insert(out.end(), data.begin(), data.end());
        if (out.size() >= maxBytes) break;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        if (!port_.waitForReadyRead(ms(left)) && port_.bytesAvailable() == 0) break;
    }
    return out;
}

Bytes QtSerialPort::poll() {
    if (!port_.isOpen()) return {};
    PumpEvents();
    QByteArray data = port_.readAll();
    return Bytes(data.begin(), data.end());
}

}  // namespace kv
