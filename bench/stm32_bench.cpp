// Programs a 128 KiB image into the STM32 bootloader model over a pty whose far end takes
// the wire time of 115200 baud 8E1 (11 bits a byte) for every byte, once with the tool's
// serial procedure and once with stm32flash writing and verifying the same file. Prints
// both times, the wire-time bound of the bytes each exchanged and the ratios.
//
// --rounds N runs both N times in turn and judges the medians; --unpaced drops the wire
// time. Needs socat, stm32flash and the stm32_pty_peer helper (built with the tests; found
// next to this build, or named by STM32_PTY_PEER).

#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "../tests/flash/StmPtyRig.h"
#include "../tests/flash/StmTestSupport.h"
#include "QtSerialPort.h"
#include "ScriptedUi.h"
#include "core/Context.h"
#include "core/LogFile.h"
#include "core/SharedState.h"
#include "device/ChannelEvents.h"
#include "firmware/HexFile.h"
#include "flash/StmFrames.h"
#include "flash/StmLink.h"
#include "flash/StmProgram.h"

namespace fs = std::filesystem;
using namespace kv;
using namespace kv::test;

namespace {

// User + system seconds used so far by this process, or by its waited-for children.
double cpuTime(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

constexpr int kBaud = 115200;
constexpr int kBitsPerByte = 11;
constexpr std::size_t kImageSize = 128 * 1024;

struct Run {
    double seconds = 0;
    double cpuSeconds = 0;  // user + system time of the programming host (all its threads)
    double wireSeconds = 0;
    bool flashOk = false;
    long bytes = 0;
};

std::string peerBinary(const char* argv0) {
    if (const char* env = std::getenv("STM32_PTY_PEER")) return env;
    fs::path self = fs::canonical(fs::path("/proc/self/exe"));
    (void)argv0;
    return (self.parent_path().parent_path() / "tests" / "flash" / "stm32_pty_peer").string();
}

// --unpaced measures what the two hosts add on top of the line: the model answers at once.
bool paced = true;

std::vector<std::string> pacing() {
    if (!paced) return {};
    return {"--pace", "--baud", std::to_string(kBaud), "--bits", std::to_string(kBitsPerByte)};
}

double wireTime(const StmPtyRig::Result& result) {
    const long bytes = result.stats.at("bytes_in") + result.stats.at("bytes_out");
    return static_cast<double>(bytes) * kBitsPerByte / kBaud;
}

Run runTool(const std::string& peer, const fs::path& folder, const std::string& hexFile,
            const Bytes& image) {
    StmPtyRig rig(peer, folder / "tool-link", pacing());
    SharedState state;
    state.DebugSwitch = "ON";
    LogFile log;
    log.open(folder.string(), folder.string());
    ScriptedUi ui;
    SteadyClock clock;
    QtSerialPort com;
    com.setWarningSink([](const std::string&) {});  // the pty refuses even parity
    Ports ports;
    ports.ComPort1 = &com;
    Context ctx(state, log, ui, clock, ports);
    RegisterChannelEvents(ctx);
    state.ConnectionKind = ConnectionKind::Serial;

    HexReaderState reader;
    {
        std::ifstream in(hexFile, std::ios::binary);
        if (!CheckHexFile(ctx, reader, in)) throw std::runtime_error("bad HEX file");
    }
    const double cpuStart = cpuTime(RUSAGE_SELF);
    const auto start = std::chrono::steady_clock::now();
    com.setName(rig.toolEnd());
    com.open();
    com.setBaud(kBaud);
    com.setParity(Parity::Even);
    bool ok = StmCommand(ctx, kStmSync) && state.RxBuffer[0] == kStmAck &&
              StmProgram(ctx, reader, hexFile);
    const auto end = std::chrono::steady_clock::now();
    const double cpuUsed = cpuTime(RUSAGE_SELF) - cpuStart;
    com.close();
    log.close();
    if (!ok) std::fprintf(stderr, "tool run failed: %s\n", ui.memo.back().c_str());

    auto result = rig.stop();
    Run run;
    run.cpuSeconds = cpuUsed;
    run.seconds = std::chrono::duration<double>(end - start).count();
    run.wireSeconds = wireTime(result);
    run.bytes = result.stats.at("bytes_in") + result.stats.at("bytes_out");
    run.flashOk = ok && result.flash == image;
    return run;
}

Run runStm32flash(const std::string& peer, const fs::path& folder, const std::string& hexFile,
                  const Bytes& image) {
    StmPtyRig rig(peer, folder / "stm32flash-link", pacing());
    const std::string out = (folder / "stm32flash.txt").string();
    const double cpuStart = cpuTime(RUSAGE_CHILDREN);  // the model and socat are not waited yet
    const auto start = std::chrono::steady_clock::now();
    // A pty keeps no parity: stm32flash refuses 8E1 there; the model's pacing still
    // charges 11 bits a byte.
    int rc = runProgram({"stm32flash", "-b", std::to_string(kBaud), "-m", "8n1", "-w", hexFile,
                         "-v", rig.toolEnd()},
                        out, std::chrono::seconds(600));
    const double cpuUsed = cpuTime(RUSAGE_CHILDREN) - cpuStart;
    const auto end = std::chrono::steady_clock::now();
    if (rc != 0) std::fprintf(stderr, "stm32flash failed:\n%s\n", readText(out).c_str());
    auto result = rig.stop();
    Run run;
    run.cpuSeconds = cpuUsed;
    run.seconds = std::chrono::duration<double>(end - start).count();
    run.wireSeconds = wireTime(result);
    run.bytes = result.stats.at("bytes_in") + result.stats.at("bytes_out");
    run.flashOk = rc == 0 && result.flash == image;
    return run;
}

}  // namespace

// The median of the runs' times (the machine's own hiccups fall outside it).
static double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

static void print(const char* who, const Run& run) {
    std::printf("%-11s %7.2f s  wire bound %7.2f s (%ld bytes)  ratio %.3f  cpu %.2f s  flash %s\n",
                who, run.seconds, run.wireSeconds, run.bytes, run.seconds / run.wireSeconds,
                run.cpuSeconds, run.flashOk ? "ok" : "WRONG");
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int rounds = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--unpaced") {
            paced = false;
        } else if (arg == "--rounds" && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: stm32_bench [--unpaced] [--rounds N]\n");
            return 2;
        }
    }
    if (!onPath("socat") || !onPath("stm32flash")) {
        std::fprintf(stderr, "socat and stm32flash are needed\n");
        return 2;
    }
    const std::string peer = peerBinary(argv[0]);
    if (::access(peer.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "helper %s not found (build target stm32_pty_peer)\n", peer.c_str());
        return 2;
    }
    const fs::path folder =
        fs::temp_directory_path() / ("kv-stm32-bench-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const std::vector<HexSegment> firmware{{0x08000000, pattern(kImageSize, 42)}};
    const Bytes image = flashImage(firmware);
    const std::string hexFile = (folder / "image.hex").string();
    writeFile(hexFile, makeHex(firmware));

    std::printf(paced ? "128 KiB image, 115200 baud 8E1 wire time (11 bits a byte)\n"
                      : "128 KiB image, no wire time (host overhead only)\n");
    // The two programs take turns, so that a slow spell of the machine hits both alike.
    std::vector<double> ourTimes, theirTimes, ourCpu, theirCpu;
    bool flashOk = true;
    double wire = 0;
    for (int round = 1; round <= rounds; ++round) {
        if (rounds > 1) std::printf("round %d\n", round);
        const Run ours = runTool(peer, folder, hexFile, image);
        print("tool:", ours);
        const Run theirs = runStm32flash(peer, folder, hexFile, image);
        print("stm32flash:", theirs);
        ourTimes.push_back(ours.seconds);
        theirTimes.push_back(theirs.seconds);
        ourCpu.push_back(ours.cpuSeconds);
        theirCpu.push_back(theirs.cpuSeconds);
        flashOk = flashOk && ours.flashOk && theirs.flashOk;
        wire = ours.wireSeconds;
    }
    const double ours = median(ourTimes), theirs = median(theirTimes);
    if (rounds > 1) {
        std::printf("median of %d: tool %.2f s (cpu %.2f s), stm32flash %.2f s (cpu %.2f s)\n",
                    rounds, ours, median(ourCpu), theirs, median(theirCpu));
    }
    std::printf("tool / stm32flash: %.3f\n", ours / theirs);
    std::error_code ec;
    fs::remove_all(folder, ec);
    const bool met = flashOk && ours <= theirs && ours <= 1.15 * wire;
    std::printf("target (tool <= stm32flash and <= 1.15 x wire bound): %s\n",
                met ? "met" : "MISSED");
    return met ? 0 : 1;
}
