// fleet_check: the checks of FleetMemories.h as a program, for tests written as scripts.
//
//   fleet_check DUMP_FOLDER PLAN
//
// Prints one line per problem (a memory that differs from its file, a device not back in
// normal operation) and exits 1 when there is any, 0 when every device of the plan holds
// its files and is restored. Relative files of the plan are taken from the plan's folder.
#include <cstdio>
#include <exception>

#include "FleetMemories.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: fleet_check DUMP_FOLDER PLAN\n");
        return 2;
    }
    try {
        int problems = 0;
        for (const auto& [address, rows] : kv::test::SamplePlanFiles(argv[2])) {
            auto found = kv::test::MemoryProblems(argv[1], address, rows);
            for (auto& p : kv::test::RestoreProblems(argv[1], address)) found.push_back(p);
            for (const auto& p : found) std::printf("%s\n", p.c_str());
            problems += static_cast<int>(found.size());
        }
        return problems == 0 ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fleet_check: %s\n", e.what());
        return 2;
    }
}
