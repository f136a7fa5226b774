// Programs a 128 KiB image into the STM32 bootloader model over a pty whose far end takes
// the wire time of 115200 baud 8E1 (11 bits a byte) for every byte, once with the tool's
// serial procedure and once with stm32flash writing and verifying the same file. Prints
// both times, the wire-time bound of the bytes each exchanged and the ratios.
//
// Needs socat, stm32flash and the stm32_pty_peer helper (built with the tests; found next
// to this build, or named by STM32_PTY_PEER).

#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
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

constexpr int kBaud = 115200;
constexpr int kBitsPerByte = 11;
constexpr std::size_t kImageSize = 128 * 1024;

struct Run {
    double seconds = 0;
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
    state.ConnectionKind = 2;

    HexReaderState reader;
    {
        std::ifstream in(hexFile, std::ios::binary);
        if (!CheckHexFile(ctx, reader, in)) throw std::runtime_error("bad HEX file");
    }
    const auto start = std::chrono::steady_clock::now();
    com.setName(rig.toolEnd());
    com.open();
    com.setBaud(kBaud);
    com.setParity(Parity::Even);
    bool ok = StmCommand(ctx, kStmSync) && state.RxBuffer[0] == kStmAck &&
              StmProgram(ctx, reader, hexFile);
    const auto end = std::chrono::steady_clock::now();
    com.close();
    log.close();
    if (!ok) std::fprintf(stderr, "tool run failed: %s\n", ui.memo.back().c_str());

    auto result = rig.stop();
    Run run;
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
    const auto start = std::chrono::steady_clock::now();
    // A pty keeps no parity: stm32flash refuses 8E1 there; the model's pacing still
    // charges 11 bits a byte.
    int rc = runProgram({"stm32flash", "-b", std::to_string(kBaud), "-m", "8n1", "-w", hexFile,
                         "-v", rig.toolEnd()},
                        out, std::chrono::seconds(600));
    const auto end = std::chrono::steady_clock::now();
    if (rc != 0) std::fprintf(stderr, "stm32flash failed:\n%s\n", readText(out).c_str());
    auto result = rig.stop();
    Run run;
    run.seconds = std::chrono::duration<double>(end - start).count();
    run.wireSeconds = wireTime(result);
    run.bytes = result.stats.at("bytes_in") + result.stats.at("bytes_out");
    run.flashOk = rc == 0 && result.flash == image;
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    paced = !(argc > 1 && std::string(argv[1]) == "--unpaced");
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
    const Run ours = runTool(peer, folder, hexFile, image);
    std::printf("tool:       %7.2f s  wire bound %7.2f s (%ld bytes)  ratio %.3f  flash %s\n",
                ours.seconds, ours.wireSeconds, ours.bytes, ours.seconds / ours.wireSeconds,
                ours.flashOk ? "ok" : "WRONG");
    const Run theirs = runStm32flash(peer, folder, hexFile, image);
    std::printf("stm32flash: %7.2f s  wire bound %7.2f s (%ld bytes)  ratio %.3f  flash %s\n",
                theirs.seconds, theirs.wireSeconds, theirs.bytes,
                theirs.seconds / theirs.wireSeconds, theirs.flashOk ? "ok" : "WRONG");
    std::printf("tool / stm32flash: %.3f\n", ours.seconds / theirs.seconds);
    std::error_code ec;
    fs::remove_all(folder, ec);
    const bool met = ours.flashOk && theirs.flashOk && ours.seconds <= theirs.seconds &&
                     ours.seconds <= 1.15 * ours.wireSeconds;
    std::printf("target (tool <= stm32flash and <= 1.15 x wire bound): %s\n",
                met ? "met" : "MISSED");
    return met ? 0 : 1;
}
