// Programs a full 128 KiB image (no erased gaps) into the PIC bootloader model over a real
// loopback TCP connection, through the tool's own tunnel client and link code. The model's
// side takes the wire time of 19200 baud 8N1 (10 bits a byte) for every byte in each
// direction, as the module's serial side would. Prints the measured time, the wire-time
// bound of the bytes actually exchanged and their ratio, with and without read-back
// verification, and the peak memory after a small and after the full image.
//
// Usage: pic_bench [KiB of image, default 128]

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "HexBytes.h"
#include "PicBootloader.h"
#include "QtTcpClient.h"
#include "core/Clock.h"
#include "core/Context.h"
#include "core/LogFile.h"
#include "core/SharedState.h"
#include "core/Ui.h"
#include "firmware/HexFile.h"
#include "flash/PicDeviceRules.h"
#include "flash/PicFlash.h"

namespace fs = std::filesystem;
using namespace kv;
using WallClock = std::chrono::steady_clock;

namespace {

constexpr int kBaud = 19200;
constexpr int kBitsPerByte = 10;  // start, 8 data, stop
constexpr std::uint32_t kMemorySize = 0x20000;

double wireSeconds(std::size_t bytes) {
    return static_cast<double>(bytes) * kBitsPerByte / kBaud;
}

long peakKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Shows nothing: the bench measures the link, and a recording Ui would grow with the file.
class QuietUi : public Ui {
  public:
    void memoLine(const std::string&) override {}
    void statusText(const std::string&) override {}
    void progress(int, int) override {}
    void busyText(const std::string&) override {}
    void busyVisible(bool) override {}
    void restartBusyTimer() override {}
    void stopBusyTimer() override {}
    void deviceProperties(const DeviceProperties&) override {}
    void networkTree(const std::vector<std::string>&) override {}
    void comTree(const std::vector<std::string>&) override {}
    void usbList(const std::vector<UsbRow>&) override {}
    void controllerGrid(const std::vector<GridRow>&) override {}
    void enable(UiElement, bool) override {}
    void messageBox(const std::string& text) override {
        std::printf("message: %s\n", text.c_str());
    }
    void errorBox(const std::string& text) override { std::printf("error: %s\n", text.c_str()); }
    MsgButton ask(QuestionId, const std::string&, DialogKind, const std::vector<MsgButton>&, int) override {
        return MsgButton::No;
    }
    std::optional<std::string> openFile(const std::string&) override { return std::nullopt; }
    void showReport(const std::vector<std::string>&, const std::string&, bool) override {}
    void closeMainWindow() override {}
};

// The model behind a loopback listener, one connection after the other, with the serial
// line's pace: a frame reaches the card after its bytes' wire time (queued behind what is
// still on the line), and the reply leaves the card at the pace of the return line.
class PacedServer {
  public:
    explicit PacedServer(sim::PicBootloader& pic) : pic_(pic) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 4);
        socklen_t length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~PacedServer() {
        stopping_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        ::close(listener_);
        thread_.join();
    }
    int port() const { return port_; }

  private:
    void serve() {
        while (!stopping_) {
            int connection = ::accept(listener_, nullptr, nullptr);
            if (connection < 0) return;
            int one = 1;
            ::setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            pic_.connectionOpened();
            auto toCard = WallClock::now();
            auto fromCard = WallClock::now();
            std::uint8_t buffer[512];
            for (;;) {
                ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
                if (n <= 0) break;
                auto pace = [](std::size_t bytes) {
                    return std::chrono::duration_cast<WallClock::duration>(
                        std::chrono::duration<double>(wireSeconds(bytes)));
                };
                toCard = std::max(toCard, WallClock::now()) + pace(static_cast<std::size_t>(n));
                Bytes reply = pic_.receive(ByteView(buffer, static_cast<std::size_t>(n)));
                if (reply.empty()) continue;
                fromCard = std::max(fromCard, toCard) + pace(reply.size());
                std::this_thread::sleep_until(fromCard);
                if (::send(connection, reply.data(), reply.size(), MSG_NOSIGNAL) < 0) break;
            }
            ::close(connection);
        }
    }

    sim::PicBootloader& pic_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

// A HEX file of `kib` KiB of data from address 0, 16 bytes a record, written line by line.
fs::path writeImage(const fs::path& folder, std::uint32_t kib) {
    fs::path path = folder / ("image" + std::to_string(kib) + ".hex");
    std::ofstream out(path, std::ios::binary);
    unsigned seed = 99;
    for (std::uint32_t address = 0; address < kib * 1024; address += 16) {
        if (address % 0x10000 == 0) {
            out << sim::HexRecordLine(4, 0, Bytes{0, static_cast<std::uint8_t>(address >> 16)})
                << "\r\n";
        }
        std::uint8_t data[16];
        for (auto& b : data) {
            seed = seed * 1103515245u + 12345u;
            b = static_cast<std::uint8_t>(seed >> 16);
        }
        data[0] &= 0x7F;  // never an erased block
        out << sim::HexRecordLine(0, static_cast<std::uint16_t>(address), data) << "\r\n";
    }
    out << ":00000001FF\r\n";
    return path;
}

struct Result {
    double seconds = 0;
    double boundSeconds = 0;
    std::size_t frames = 0;
    bool ok = false;
};

Result programOnce(const fs::path& folder, const fs::path& hexFile, bool quickBootload) {
    sim::PicBootloader pic;
    PacedServer server(pic);

    SharedState state;
    state.DebugSwitch = "ON";
    LogFile log;
    log.open(folder.string(), folder.string());
    QuietUi ui;
    SteadyClock clock;
    QtTcpClient tunnel;
    Ports ports;
    ports.TcpClient1 = &tunnel;
    Context ctx(state, log, ui, clock, ports);

    TMatrixRec device;
    device.IP = "127.0.0.1";
    device.Port = server.port();
    device.Controllers.push_back(TControllerRec{});
    device.Controllers[0].ControllerType = "RV-PNL16";
    state.DeviceList.push_back(device);
    state.CurrentIP = "127.0.0.1";
    state.ConnectionKind = ConnectionKind::Network;
    state.RowOk = true;

    PicState link;
    HexReaderState reader;
    PicEraseRange range = PicEraseRangeFor("RV-PNL16");
    auto start = WallClock::now();
    PicErase(ctx, link, range.step, range.first, range.last);
    std::ifstream in(hexFile, std::ios::binary);
    int bad = PicProgramHexFile(ctx, link, reader, quickBootload, in);
    Result result;
    result.seconds = std::chrono::duration<double>(WallClock::now() - start).count();
    tunnel.disconnect();
    log.close();

    result.boundSeconds = wireSeconds(pic.counters.bytesIn + pic.counters.bytesOut);
    result.frames = static_cast<std::size_t>(pic.counters.frames);
    // The card must hold the file: every byte from the bootloader bound to the top row.
    std::ifstream again(hexFile, std::ios::binary);
    std::vector<std::uint8_t> expected(kMemorySize, 0xFF);
    HexReaderState scan;
    SharedState scratchState;
    Context scratch(scratchState, log, ui, clock, ports);
    ProcessHexFile(scratch, scan, kHexProgrammingPass, again, [&](const HexDataRecord& r) {
        std::uint32_t at = (static_cast<std::uint32_t>(r.upper) << 16) + r.address;
        for (std::size_t i = 0; i < r.data.size(); ++i) {
            std::uint32_t a = at + static_cast<std::uint32_t>(i);
            if (a >= kPicFirstWritableAddress && a < kPicLastWritableAddress + 16)
                expected[a] = r.data[i];
        }
    });
    result.ok = bad == 0 && state.RowOk && pic.programMemory() == expected &&
                state.RetransmissionCount == 0 && state.RewriteCount == 0;
    return result;
}

void print(const char* name, const Result& r) {
    std::printf("%-34s %8.2f s measured  %8.2f s wire bound  ratio %.3f  frames %zu  %s\n", name,
                r.seconds, r.boundSeconds, r.seconds / r.boundSeconds, r.frames,
                r.ok ? "memory equals file" : "MEMORY DIFFERS");
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::uint32_t kib = argc > 1 ? static_cast<std::uint32_t>(std::atoi(argv[1])) : 128;
    fs::path folder = fs::temp_directory_path() / ("pic_bench-" + std::to_string(::getpid()));
    fs::create_directories(folder);

    std::printf("PIC programming over a loopback tunnel paced at %d baud 8N1\n", kBaud);
    long startKb = peakKb();

    // Small image first: the peak memory of the full image must not exceed it.
    Result small = programOnce(folder, writeImage(folder, 16), true);
    print("16 KiB, quick (no read-back)", small);
    long smallKb = peakKb();

    fs::path image = writeImage(folder, kib);
    Result verified = programOnce(folder, image, false);
    print((std::to_string(kib) + " KiB, with read-back").c_str(), verified);
    Result quick = programOnce(folder, image, true);
    print((std::to_string(kib) + " KiB, quick (no read-back)").c_str(), quick);
    long fullKb = peakKb();

    // The reader alone over a file many times larger than the card.
    fs::path large = writeImage(folder, 16 * 1024);
    {
        SharedState state;
        LogFile log;
        log.open(folder.string(), folder.string());
        QuietUi ui;
        SteadyClock clock;
        Ports ports;
        Context ctx(state, log, ui, clock, ports);
        HexReaderState reader;
        std::ifstream in(large, std::ios::binary);
        std::size_t records = 0;
        ProcessHexFile(ctx, reader, kHexProgrammingPass, in,
                       [&](const HexDataRecord&) { ++records; });
        std::printf("reader over a %ju MB file: %zu records\n",
                    static_cast<std::uintmax_t>(fs::file_size(large) >> 20), records);
    }
    long readerKb = peakKb();

    std::printf(
        "peak memory: start %ld KB, after 16 KiB %ld KB, after %u KiB %ld KB, after the "
        "large file %ld KB\n",
        startKb, smallKb, kib, fullKb, readerKb);
    fs::remove_all(folder);
    bool ok = small.ok && verified.ok && quick.ok &&
              verified.seconds <= 1.10 * verified.boundSeconds &&
              quick.seconds <= 1.10 * quick.boundSeconds;
    std::printf("%s\n", ok ? "within 1.10 x the wire-time bound" : "TARGET MISSED");
    return ok ? 0 : 1;
}
