// The fleet plan reader on an arbitrary file, as an operator's editor or a script may leave
// one: it refuses with a PlanError or returns a plan every part of which the runner can use.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "FuzzCheck.h"
#include "cli/FleetPlan.h"

namespace {

namespace fs = std::filesystem;

// The files the seed plans name, made once in a folder of this process.
const fs::path& planFolder() {
    static const fs::path folder = [] {
        const fs::path made =
            fs::temp_directory_path() / ("kv-plan-fuzz-" + std::to_string(::getpid()));
        fs::create_directories(made / "fw");
        for (const char* name : {"a.hex", "b.rom", "fw/RV-PNL16-1.4.1.hex"})
            std::ofstream(made / name) << ":00000001FF\n";
        return made;
    }();
    return folder;
}

bool lowerHex(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](unsigned char c) { return std::isdigit(c) || (c >= 'a' && c <= 'f'); });
}

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    kv::cli::FleetPlan plan;
    try {
        plan = kv::cli::ParsePlan(text, "plan.json", planFolder());
    } catch (const kv::cli::PlanError& e) {
        // Every refusal says which plan it is about.
        FUZZ_CHECK(std::string(e.what()).rfind("plan.json: ", 0) == 0);
        return 0;
    }
    // Any other exception escapes and is a finding.
    FUZZ_CHECK(!plan.devices.empty());
    FUZZ_CHECK(plan.parallel >= 0 && plan.parallel <= 1000);
    std::set<std::string> names;
    for (const kv::cli::PlanDevice& device : plan.devices) {
        FUZZ_CHECK(!device.name.empty());
        FUZZ_CHECK(names.insert(lower(device.name)).second);
        FUZZ_CHECK(!device.files.empty());
        std::set<std::string> rows;
        for (const kv::cli::PlanFile& file : device.files) {
            FUZZ_CHECK(!file.row.empty());
            FUZZ_CHECK(rows.insert(lower(file.row)).second);
            FUZZ_CHECK(fs::path(file.path).is_absolute());
            FUZZ_CHECK(fs::is_regular_file(file.path));
            FUZZ_CHECK(file.sha256.empty() || (file.sha256.size() == 64 && lowerHex(file.sha256)));
        }
        // Running a plan answers the upgrade question unless the plan says otherwise.
        FUZZ_CHECK(device.answers.count(kv::cli::Question::Upgrade) == 1);
    }
    return 0;
}
