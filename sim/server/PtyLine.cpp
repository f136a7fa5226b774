#include "PtyLine.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include <QSocketNotifier>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace kv::sim {

namespace {

int baudOf(speed_t speed) {
    switch (speed) {
        case B1200:
            return 1200;
        case B2400:
            return 2400;
        case B4800:
            return 4800;
        case B9600:
            return 9600;
        case B19200:
            return 19200;
        case B38400:
            return 38400;
        case B57600:
            return 57600;
        case B115200:
            return 115200;
        default:
            return 0;
    }
}

}  // namespace

PtyLine::PtyLine(StreamPeer& peer, std::mutex& modelMutex, const std::string& linkPath)
    : peer_(peer), mutex_(modelMutex), linkPath_(linkPath) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        throw std::runtime_error(std::string("cannot create a pty: ") + std::strerror(errno));
    }
    slavePath_ = ::ptsname(master_);
    slave_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY);
    if (slave_ < 0) throw std::runtime_error("cannot open " + slavePath_);
    // Raw, or the line discipline would echo the device's answers back to it.
    termios tio{};
    ::tcgetattr(slave_, &tio);
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    ::tcsetattr(slave_, TCSANOW, &tio);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);

    std::error_code ec;
    if (std::filesystem::is_symlink(linkPath_, ec)) std::filesystem::remove(linkPath_, ec);
    std::filesystem::create_symlink(slavePath_, linkPath_, ec);
    if (ec) throw std::runtime_error("cannot link " + linkPath_ + ": " + ec.message());

    notifier_ = new QSocketNotifier(master_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { onReadable(); });
}

PtyLine::~PtyLine() {
    std::error_code ec;
    if (std::filesystem::is_symlink(linkPath_, ec)) std::filesystem::remove(linkPath_, ec);
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
}

LineSettings PtyLine::currentLine() const {
    termios tio{};
    LineSettings line;
    if (::tcgetattr(slave_, &tio) != 0) return line;
    line.baud = baudOf(::cfgetospeed(&tio));
    line.parity = (tio.c_cflag & PARENB) ? Parity::Even : Parity::None;
    return line;
}

void PtyLine::onReadable() {
    char buffer[4096];
    ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n <= 0) return;
    Bytes reply;
    {
        std::lock_guard lock(mutex_);
        LineSettings line = currentLine();
        if (!lineKnown_ || !(line == line_)) {
            line_ = line;
            lineKnown_ = true;
            peer_.lineChanged(line);
        }
        reply = peer_.receive(
            ByteView(reinterpret_cast<const std::uint8_t*>(buffer), static_cast<std::size_t>(n)));
    }
    std::size_t done = 0;
    while (done < reply.size()) {
        ssize_t w = ::write(master_, reply.data() + done, reply.size() - done);
        if (w < 0 && errno != EAGAIN && errno != EINTR) break;
        if (w > 0) done += static_cast<std::size_t>(w);
    }
}

}  // namespace kv::sim
