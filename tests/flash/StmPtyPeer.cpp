// Serves the STM32 bootloader model on a tty (one end of a socat pty pair), optionally
// taking as long as a real 8E1 line would for every byte in each direction.
//
//   stm32_pty_peer --port PATH [--baud 115200] [--pace] [--bits 11] [--product 0x410]
//                  [--version 0x22] [--synced] [--lose-write-ack N] [--ready FILE]
//                  [--dump FILE] [--stats FILE]
//
// --lose-write-ack N: the Nth write lands but its ACK is never sent.
//
// Runs until SIGTERM/SIGINT or until the other end goes away; then writes the flash
// contents to --dump and the byte counters to --stats.

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <string>

#include "Stm32Bootloader.h"

namespace {

using Clock = std::chrono::steady_clock;
using Nanos = std::chrono::nanoseconds;

volatile std::sig_atomic_t stopRequested = 0;
void onSignal(int) {
    stopRequested = 1;
}

struct Options {
    std::string port, ready, dump, stats;
    int baud = 115200;
    int bitsPerByte = 11;  // start, 8 data, parity, stop
    bool pace = false;
    bool synced = false;
    int loseWriteAck = 0;
    unsigned product = 0x410;
    unsigned version = 0x22;
};

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "%s needs a value\n", arg.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--port")
            o.port = value();
        else if (arg == "--baud")
            o.baud = std::stoi(value());
        else if (arg == "--bits")
            o.bitsPerByte = std::stoi(value());
        else if (arg == "--pace")
            o.pace = true;
        else if (arg == "--synced")
            o.synced = true;
        else if (arg == "--lose-write-ack")
            o.loseWriteAck = std::stoi(value());
        else if (arg == "--product")
            o.product = static_cast<unsigned>(std::stoul(value(), nullptr, 0));
        else if (arg == "--version")
            o.version = static_cast<unsigned>(std::stoul(value(), nullptr, 0));
        else if (arg == "--ready")
            o.ready = value();
        else if (arg == "--dump")
            o.dump = value();
        else if (arg == "--stats")
            o.stats = value();
        else {
            std::fprintf(stderr, "unknown option %s\n", arg.c_str());
            std::exit(2);
        }
    }
    if (o.port.empty()) {
        std::fprintf(stderr, "--port is required\n");
        std::exit(2);
    }
    return o;
}

struct Timed {
    Clock::time_point due;
    kv::Bytes bytes;
};

}  // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    // Wake-ups a few microseconds late, not the default 50: the emulated line should not
    // be slower than the baud rate says.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

    const int fd = ::open(options.port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        std::perror(options.port.c_str());
        return 1;
    }
    termios tio{};
    if (tcgetattr(fd, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(fd, TCSANOW, &tio);  // a pty keeps no baud or parity; nothing to check
    }

    kv::sim::Stm32Bootloader::Config config;
    config.checkLine = false;
    config.autoBaud = options.synced ? kv::sim::Stm32Bootloader::AutoBaud::ByBoard
                                     : kv::sim::Stm32Bootloader::AutoBaud::ByHost;
    config.productId = static_cast<std::uint16_t>(options.product);
    config.version = static_cast<std::uint8_t>(options.version);
    kv::sim::Stm32Bootloader chip(config);
    chip.faults.lostWriteAckFrom = options.loseWriteAck;

    if (!options.ready.empty()) std::ofstream(options.ready) << "ready\n";

    const Nanos byteTime(options.pace ? 1'000'000'000LL * options.bitsPerByte / options.baud : 0);
    std::deque<Timed> incoming;  // bytes still on their way to the chip
    std::deque<Timed> outgoing;  // replies still on their way to the tool
    Clock::time_point rxLineFree{}, txLineFree{};
    unsigned char buffer[4096];
    bool peerGone = false;

    while (!stopRequested && !peerGone) {
        auto now = Clock::now();
        // Hand the chip every byte whose last bit has arrived.
        kv::Bytes due;
        while (!incoming.empty() && incoming.front().due <= now) {
            due.insert(due.end(), incoming.front().bytes.begin(), incoming.front().bytes.end());
            incoming.pop_front();
        }
        if (!due.empty()) {
            kv::Bytes reply = chip.receive(due);
            if (!reply.empty()) {
                txLineFree = std::max(now, txLineFree) + byteTime * static_cast<long>(reply.size());
                outgoing.push_back({txLineFree, std::move(reply)});
            }
        }
        // A reply is written when its last byte would have left the chip.
        while (!outgoing.empty() && outgoing.front().due <= now) {
            const kv::Bytes& bytes = outgoing.front().bytes;
            std::size_t done = 0;
            while (done < bytes.size()) {
                ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
                if (n > 0) {
                    done += static_cast<std::size_t>(n);
                } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                    peerGone = true;
                    break;
                } else {
                    pollfd out{fd, POLLOUT, 0};
                    ::poll(&out, 1, 10);
                }
            }
            outgoing.pop_front();
        }

        Clock::time_point next = Clock::time_point::max();
        if (!incoming.empty()) next = std::min(next, incoming.front().due);
        if (!outgoing.empty()) next = std::min(next, outgoing.front().due);
        timespec timeout{};
        timespec* timeoutPtr = nullptr;
        if (next != Clock::time_point::max()) {
            auto wait = std::max(Nanos(0), std::chrono::duration_cast<Nanos>(next - Clock::now()));
            timeout.tv_sec = static_cast<time_t>(wait.count() / 1'000'000'000);
            timeout.tv_nsec = static_cast<long>(wait.count() % 1'000'000'000);
            timeoutPtr = &timeout;
        }
        pollfd in{fd, POLLIN, 0};
        int ready = ::ppoll(&in, 1, timeoutPtr, nullptr);
        if (ready <= 0) continue;
        if (in.revents & POLLIN) {
            ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) {
                now = Clock::now();
                for (ssize_t i = 0; i < n; ++i) {
                    rxLineFree = std::max(now, rxLineFree) + byteTime;
                    if (!incoming.empty() && incoming.back().due == rxLineFree) {
                        incoming.back().bytes.push_back(buffer[i]);
                    } else {
                        incoming.push_back({rxLineFree, kv::Bytes{buffer[i]}});
                    }
                }
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                peerGone = true;
            }
        } else if (in.revents & (POLLHUP | POLLERR)) {
            // The tool closed its end; socat keeps ours open, so wait for it to return.
            ::usleep(1000);
        }
    }
    ::close(fd);

    if (!options.dump.empty()) {
        const kv::Bytes& flash = chip.memory().flash();
        std::ofstream(options.dump, std::ios::binary)
            .write(reinterpret_cast<const char*>(flash.data()),
                   static_cast<std::streamsize>(flash.size()));
    }
    if (!options.stats.empty()) {
        std::ofstream stats(options.stats);
        stats << "bytes_in " << chip.counters.bytesIn << "\n"
              << "bytes_out " << chip.counters.bytesOut << "\n"
              << "writes " << chip.counters.writes << "\n"
              << "reads " << chip.counters.reads << "\n"
              << "syncs " << chip.counters.syncs << "\n"
              << "nacks " << chip.counters.nacks << "\n"
              << "refused_writes " << chip.counters.refusedWrites << "\n";
    }
    return 0;
}
