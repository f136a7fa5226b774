// bench/fault_campaign [RUNS] [SEED]: RUNS seeded runs of the upgrade procedures against
// the simulated devices with injected faults (seeds SEED, SEED+1, ...), then the table:
// runs per family, faults by kind, rows OK and FAILED, invariant violations and the
// longest run against its time bound. Each violating run is printed with its seed.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FaultCampaign.h"

int main(int argc, char** argv) {
    using namespace kv::campaign;
    const long runs = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 1000;
    const unsigned long long first = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;
    if (runs <= 0) {
        std::fprintf(stderr, "usage: fault_campaign [RUNS] [SEED]\n");
        return 2;
    }
    CampaignTotals totals;
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < runs; ++i) {
        RunResult run = RunOne(first + static_cast<unsigned long long>(i));
        if (!run.violations.empty()) std::printf("%s", Describe(run).c_str());
        totals.add(run);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s", totals.table().c_str());
    std::printf("%-28s %10.1f s (%.1f ms per run)\n", "real time", seconds,
                1000.0 * seconds / static_cast<double>(runs));
    return totals.violations == 0 ? 0 : 1;
}
