// The run journal's reading of one entry file, as a crash, a full disk or another
// program may have left it.
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "records/RunJournal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const kv::ParsedJournalEntry parsed = kv::ParseJournalEntry(text);
    // Something usable, or a reason why not.
    FUZZ_CHECK(parsed.entry || !parsed.problem.empty());
    if (!parsed.entry) return 0;
    const kv::JournalEntry& entry = *parsed.entry;
    FUZZ_CHECK(entry.device.valid());
    for (std::size_t i = 0; i < entry.changes.size(); ++i)
        for (std::size_t j = i + 1; j < entry.changes.size(); ++j)
            FUZZ_CHECK(entry.changes[i] != entry.changes[j]);
    // What was read is written back and read again to the same entry.
    const std::string written = kv::FormatJournalEntry(entry);
    const kv::ParsedJournalEntry again = kv::ParseJournalEntry(written);
    FUZZ_CHECK(again.entry && again.problem.empty());
    FUZZ_CHECK(kv::FormatJournalEntry(*again.entry) == written);
    // A file name made from the device stays inside the journal folder.
    const std::string stem = kv::JournalFileStem(entry.device);
    FUZZ_CHECK(stem.find('/') == std::string::npos && stem.find('\\') == std::string::npos);
    return 0;
}
