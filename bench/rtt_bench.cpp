// Why kvboot runs next to the devices: one PIC card row upgraded through a tunnel that adds
// a network round trip to every exchange (kvsim --tunnel-delay), paced at the module's
// serial rate as a real tunnel is. Prints the row's time at each round trip next to the
// estimate (which knows no round trip), what the round trip added, and how many exchanges
// that makes.
//
// Usage: rtt_bench [MS ...]   (round trips in milliseconds; default 0 20 50)
// Runs itself in a private network namespace (unshare -rn) like fleet_bench.

#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchNamespace.h"
#include "KvsimProcess.h"
#include "cli/FleetRunner.h"

namespace fs = std::filesystem;
using namespace kv::cli;

namespace {

constexpr const char* kInNamespace = "KV_RTT_BENCH_NETNS";
const std::vector<int> kDefaultRoundTrips{0, 20, 50};

struct Measured {
    double rowSeconds = -1;  // < 0: the row did not end OK
    std::chrono::milliseconds estimate{0};
    std::string device;
    std::string type;
};

// The first device of kvsim's sample plan, with its first PIC card row only.
Measured runOnce(const fs::path& folder, int roundTripMs) {
    kv::test::KvsimProcess sim(
        KVSIM_PATH, {"--fleet", "1", "--files", QString::fromStdString((folder / "files").string()),
                     "--pace", "--tunnel-delay", QString::number(roundTripMs)});
    FleetPlan plan = LoadPlan((folder / "files" / "plan.json").string());
    PlanDevice& device = plan.devices.front();
    Measured measured;
    measured.device = device.name;
    for (const PlanFile& file : device.files) {
        const RowKind kind = RowKindOf(file.row, device.target.kind);
        if (kind != RowKind::PicCard) continue;
        device.files = {file};
        measured.type = file.row;
        measured.estimate =
            EstimateRow(kind, file.row, MeasureFile(file.path, kind), false, device.target.kind)
                .total();
        break;
    }
    if (measured.type.empty()) throw std::runtime_error("the sample plan has no PIC card row");
    FleetOptions options;
    options.session.platformDataFolder = (folder / "data").string();
    options.session.workingFolder = folder.string();
    const FleetResult result = RunFleet(plan, options);
    for (const kv::RowResult& row : result.devices.front().outcome.run.rows) {
        if (row.state == kv::RowState::Ok) measured.rowSeconds = row.seconds;
    }
    return measured;
}

}  // namespace

int main(int argc, char** argv) {
    if (const int status = kv::bench::RunInOwnNetworkNamespace(argc, argv, kInNamespace);
        status >= 0)
        return status;
    QCoreApplication app(argc, argv);
    std::vector<int> roundTrips;
    for (int i = 1; i < argc; ++i) {
        const int ms = std::atoi(argv[i]);
        if (ms < 0 || ms > 10000 ||
            std::string(argv[i]).find_first_not_of("0123456789") != std::string::npos) {
            std::fprintf(stderr, "usage: rtt_bench [MS ...] (round trips from 0 to 10000 ms)\n");
            return 2;
        }
        roundTrips.push_back(ms);
    }
    if (roundTrips.empty()) roundTrips = kDefaultRoundTrips;
    const fs::path folder =
        fs::temp_directory_path() / ("kv-rtt-bench-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder / "data");
    int status = 0;
    try {
        double base = -1;
        std::printf("%-10s %-10s %10s %12s %10s %12s\n", "round trip", "row", "row s", "estimate s",
                    "added s", "exchanges");
        for (int ms : roundTrips) {
            const Measured m = runOnce(folder, ms);
            if (m.rowSeconds < 0) {
                std::printf("%7d ms  %-10s FAILED\n", ms, m.type.c_str());
                status = 1;
                continue;
            }
            if (ms == 0) base = m.rowSeconds;
            const bool compared = base >= 0 && ms > 0;
            const double added = compared ? m.rowSeconds - base : 0;
            char addedText[32] = "-";
            char exchanges[32] = "-";
            if (compared) {
                std::snprintf(addedText, sizeof addedText, "%.1f", added);
                std::snprintf(exchanges, sizeof exchanges, "%.0f", added * 1000.0 / ms);
            }
            std::printf("%7d ms  %-10s %10.1f %12.1f %10s %12s\n", ms, m.type.c_str(), m.rowSeconds,
                        static_cast<double>(m.estimate.count()) / 1000.0, addedText, exchanges);
            std::fflush(stdout);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "rtt_bench: %s\n", e.what());
        status = 1;
    }
    fs::remove_all(folder);
    return status;
}
