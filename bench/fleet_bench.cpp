// Fleet plans against kvsim's simulated fleet, paced at the real wire rates (each module's
// tunnel at the baud rate of its serial side): the slowest device of the plan alone, then
// all N devices at once, each on its own engine and thread. Prints the wall time of both
// runs, their ratio, the process's CPU time next to each (the engines' threads; kvsim is a
// process of its own), and checks every device's memories against its files.
//
// Usage: fleet_bench [N, default 8]
// Runs itself in a private network namespace (unshare -rn) so that the fleet's addresses
// and its discovery stay off the machine's interfaces.

#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "FleetMemories.h"
#include "KvsimProcess.h"
#include "NetworkNamespace.h"
#include "cli/FleetRunner.h"

namespace fs = std::filesystem;
using namespace kv::cli;
using Steady = std::chrono::steady_clock;

namespace {

constexpr double kTargetRatio = 1.10;
constexpr const char* kInNamespace = "KV_FLEET_BENCH_NETNS";

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The estimate from the plan alone (rows named by type), to pick the slowest device.
std::chrono::milliseconds planEstimate(const PlanDevice& device) {
    std::chrono::milliseconds total = EstimateRestore(device.target.kind, false);
    for (const PlanFile& file : device.files) {
        const RowKind kind = RowKindOf(file.row, device.target.kind);
        total += EstimateRow(kind, file.row, MeasureFile(file.path, kind), device.quick,
                             device.target.kind)
                     .total();
    }
    return total;
}

struct Run {
    double wall = 0;
    double cpu = 0;
    FleetResult result;
};

Run runPlan(const FleetPlan& plan, const fs::path& data) {
    FleetOptions options;
    options.session.platformDataFolder = data.string();
    options.session.workingFolder = data.string();
    const double cpu = cpuSeconds();
    const auto start = Steady::now();
    Run run;
    run.result = RunFleet(plan, options);
    run.wall = std::chrono::duration<double>(Steady::now() - start).count();
    run.cpu = cpuSeconds() - cpu;
    return run;
}

void printRun(const char* label, const Run& run) {
    std::size_t ok = 0;
    for (const auto& device : run.result.devices) ok += device.status == ExitStatus::Ok;
    std::printf("%-34s %9.1f %8.2f %9.1f%%   %zu of %zu OK\n", label, run.wall, run.cpu,
                100.0 * run.cpu / run.wall, ok, run.result.devices.size());
}

int reexecInNamespace(int argc, char** argv) {
    setenv(kInNamespace, "1", 1);
    std::vector<char*> args{const_cast<char*>("unshare"), const_cast<char*>("-rn"),
                            const_cast<char*>("sh"), const_cast<char*>("-c"),
                            const_cast<char*>("ip link set lo up && exec \"$0\" \"$@\"")};
    for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    execvp("unshare", args.data());
    std::perror("fleet_bench: unshare");
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (!kv::test::InOwnNetworkNamespace()) {
        if (std::getenv(kInNamespace)) {
            std::fprintf(stderr, "fleet_bench: no private network namespace\n");
            return 1;
        }
        return reexecInNamespace(argc, argv);
    }
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 8;
    if (count < 1 || count > 200) {
        std::fprintf(stderr, "usage: fleet_bench [N from 1 to 200]\n");
        return 2;
    }
    const fs::path folder = fs::temp_directory_path() / ("kv-fleet-bench-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder / "data");

    int status = 0;
    try {
        kv::test::KvsimProcess sim(
            KVSIM_PATH, {"--fleet", QString::number(count), "--files",
                         QString::fromStdString((folder / "files").string()), "--dump",
                         QString::fromStdString((folder / "dump").string()), "--pace"});
        const fs::path planFile = folder / "files" / "plan.json";
        const FleetPlan plan = LoadPlan(planFile.string());

        std::size_t slowest = 0;
        for (std::size_t i = 0; i < plan.devices.size(); ++i) {
            if (planEstimate(plan.devices[i]) > planEstimate(plan.devices[slowest])) slowest = i;
        }
        FleetPlan alone;
        alone.devices = {plan.devices[slowest]};

        std::printf("Fleet plan against kvsim --fleet %d, tunnels paced at their serial rate\n",
                    count);
        std::printf("%-34s %9s %8s %10s   %s\n", "run", "wall s", "CPU s", "CPU/wall",
                    "devices");
        const Run one = runPlan(alone, folder / "data");
        const std::string oneLabel = "1 device (" + plan.devices[slowest].name + ")";
        printRun(oneLabel.c_str(), one);
        const Run all = runPlan(plan, folder / "data");
        const std::string allLabel = std::to_string(count) + " devices in parallel";
        printRun(allLabel.c_str(), all);
        std::printf("estimate for %s: %s (rows and restore); measured %s (with the connection "
                    "and inventory)\n",
                    plan.devices[slowest].name.c_str(),
                    FormatDuration(planEstimate(plan.devices[slowest])).c_str(),
                    FormatDuration(std::chrono::milliseconds(
                                       static_cast<std::int64_t>(one.wall * 1000)))
                        .c_str());

        sim.dump();
        std::vector<std::string> problems;
        const auto files = kv::test::SamplePlanFiles(planFile);
        for (const auto& [address, rows] : files) {
            for (auto& p : kv::test::MemoryProblems(folder / "dump", address, rows))
                problems.push_back(p);
            for (auto& p : kv::test::RestoreProblems(folder / "dump", address))
                problems.push_back(p);
        }
        for (const std::string& p : problems) std::printf("memory: %s\n", p.c_str());
        const double ratio = all.wall / one.wall;
        std::printf("ratio %.3f (target at most %.2f)  memories %s  fleet exit %d\n", ratio,
                    kTargetRatio,
                    problems.empty() ? "all equal to their files" : "DIFFER",
                    ToInt(all.result.status));
        const bool met = ratio <= kTargetRatio && problems.empty() &&
                         all.result.status == ExitStatus::Ok && one.result.status == ExitStatus::Ok;
        std::printf("%s\n", met ? "within target" : "TARGET MISSED");
        status = met ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fleet_bench: %s\n", e.what());
        status = 1;
    }
    fs::remove_all(folder);
    return status;
}
