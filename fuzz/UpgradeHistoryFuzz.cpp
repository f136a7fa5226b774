// The upgrade history file as it may be found: cut by a crash, edited by hand, or not ours
// at all. Reading never fails; every record read writes back to a line that reads as the
// same record, and any JSON value read writes back to its own fixed point.
#include <algorithm>
#include <sstream>
#include <string>

#include "FuzzCheck.h"
#include "records/UpgradeHistory.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    std::istringstream in(text);
    kv::HistoryReading reading;
    kv::ReadHistoryLines(in, "history.jsonl", reading);
    const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    FUZZ_CHECK(reading.records.size() + static_cast<std::size_t>(reading.damaged) <= lines);
    FUZZ_CHECK(reading.warning.empty() == (reading.damaged == 0));
    for (const kv::UpgradeRecord& record : reading.records) {
        const std::string line = kv::WriteJson(kv::ToJsonValue(record));
        FUZZ_CHECK(line.find('\n') == std::string::npos);
        const std::optional<kv::JsonValue> again = kv::ParseJson(line);
        FUZZ_CHECK(again.has_value());
        const std::optional<kv::UpgradeRecord> same = kv::RecordFromJson(*again);
        FUZZ_CHECK(same.has_value());
        FUZZ_CHECK(kv::WriteJson(kv::ToJsonValue(*same)) == line);
    }

    if (const std::optional<kv::JsonValue> value = kv::ParseJson(text)) {
        const std::string written = kv::WriteJson(*value);
        const std::optional<kv::JsonValue> reread = kv::ParseJson(written);
        FUZZ_CHECK(reread.has_value());
        FUZZ_CHECK(kv::WriteJson(*reread) == written);
    }
    return 0;
}
