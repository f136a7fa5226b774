// A few hundred seeded runs of the upgrade procedures with injected faults; any run that
// breaks an invariant is printed with its seed (KV_CAMPAIGN_SEED=<seed> replays one).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "FaultCampaign.h"

namespace kv::campaign {
namespace {

constexpr int kCiRuns = 300;
constexpr std::uint64_t kFirstSeed = 1;

TEST(FaultCampaign, EveryVerdictMatchesTheDevicesAndEveryRunEndsRestoredInTime) {
    CampaignTotals totals;
    if (const char* seed = std::getenv("KV_CAMPAIGN_SEED")) {
        totals.add(RunOne(std::stoull(seed)));
    } else {
        for (int i = 0; i < kCiRuns; ++i) totals.add(RunOne(kFirstSeed + static_cast<std::uint64_t>(i)));
    }
    for (const auto& run : totals.violating) ADD_FAILURE() << Describe(run);
    EXPECT_EQ(totals.violations, 0) << totals.table();
    // The campaign must reach both verdicts, every family and every kind of fault (refused
    // files and refused programming requests among them).
    if (totals.runs == kCiRuns) {
        EXPECT_GT(totals.rowsOk, 0);
        EXPECT_GT(totals.rowsFailed, 0);
        for (int f : totals.families) EXPECT_GT(f, 0);
        for (int f = 0; f < kFaultCount; ++f)
            EXPECT_GT(totals.faults[static_cast<std::size_t>(f)], 0)
                << FaultName(static_cast<Fault>(f));
    }
    std::printf("%s", totals.table().c_str());
}

}  // namespace
}  // namespace kv::campaign
