#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "JournalFolder.h"
#include "records/RunJournal.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using test::JournalFolder;

JournalEntry SampleEntry(const std::string& id) {
    JournalEntry entry;
    entry.device = {ConnectionKind::Network, id, "00-20-4A-9B-0C-11"};
    // A name as a device may answer it: line breaks and a backslash must not break the file.
    entry.facts.name = "RV-PNL16\r\n\\x";
    entry.facts.firmwareNumber = 140;
    entry.facts.firstRow = "RV-PNL16";
    entry.facts.directSetupModular = true;
    entry.facts.tunnelPort = 10001;
    entry.facts.normalSerial = "setup_9600_none";
    entry.changes = {DeviceChange::SerialSetup, DeviceChange::SelectLines, DeviceChange::Erase};
    entry.row = 1;
    entry.rowType = "RV-BTN16";
    entry.done = 1234;
    entry.total = 4096;
    entry.openedAt = 1700000000;
    entry.stoppedAt = 1700000060;
    return entry;
}

void ExpectSameEntry(const JournalEntry& a, const JournalEntry& b) {
    EXPECT_EQ(FormatJournalEntry(a), FormatJournalEntry(b));
    EXPECT_EQ(a.device.kind, b.device.kind);
    EXPECT_EQ(a.facts.name, b.facts.name);
    EXPECT_EQ(a.changes, b.changes);
}

std::string Replaced(std::string text, const std::string& what, const std::string& with) {
    const std::size_t at = text.find(what);
    EXPECT_NE(at, std::string::npos) << what;
    return at == std::string::npos ? text : text.replace(at, what.size(), with);
}

std::string Sound() {
    return FormatJournalEntry(SampleEntry("127.0.0.9"));
}

// A damaged file next to a sound entry of another device: the sound one is always read,
// the damaged one as far as it names a device, and one warning says what was skipped.
struct DamageCase {
    const char* name;
    std::function<std::string()> content;
    bool deviceKept;  // the damaged file still yields its device
    bool warned;
};

class DamagedJournal : public ::testing::TestWithParam<DamageCase> {};

TEST_P(DamagedJournal, IsReadAsFarAsSoundWithOneWarning) {
    const DamageCase& c = GetParam();
    JournalFolder folder;
    folder.write("network-127.0.0.2.entry", FormatJournalEntry(SampleEntry("127.0.0.2")));
    folder.write("network-127.0.0.9.entry", c.content());
    // Files that are not entries (locks, temporary files) are no part of the reading.
    folder.write("network-127.0.0.3.tmp", "kvjournal 1\nkind=network\ndevice=127.0.0.3\n");
    folder.write("network-127.0.0.3.lock", "");

    const JournalReading reading = ReadJournalEntries(folder.path);
    std::set<std::string> devices;
    for (const auto& entry : reading.entries) devices.insert(entry.device.id);
    EXPECT_TRUE(devices.count("127.0.0.2"));
    EXPECT_EQ(devices.count("127.0.0.9") == 1, c.deviceKept);
    EXPECT_FALSE(devices.count("127.0.0.3"));
    EXPECT_EQ(!reading.warning.empty(), c.warned) << reading.warning;
    if (c.warned) {
        EXPECT_EQ(reading.warning.find('\n'), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Reader, DamagedJournal,
    ::testing::Values(
        DamageCase{"sound", Sound, true, false},
        DamageCase{"sound_with_crlf",
                   [] {
                       std::string text;
                       for (char ch : Sound())
                           text += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
                       return text;
                   },
                   true, false},
        DamageCase{"empty", [] { return std::string(); }, false, true},
        DamageCase{"cut_after_the_device", [] { return Sound().substr(0, Sound().find("name=")); },
                   true, true},
        DamageCase{"cut_before_the_device",
                   [] { return Sound().substr(0, Sound().find("device=")); }, false, true},
        DamageCase{"cut_mid_line", [] { return Sound().substr(0, Sound().find("changes=") + 11); },
                   true, true},
        DamageCase{"garbage", [] { return std::string("\x00\xff\x13garbage\n=\n\\\\", 14); }, false,
                   true},
        DamageCase{"unknown_kind",
                   [] { return Replaced(Sound(), "kind=network", "kind=bluetooth"); }, false, true},
        DamageCase{"unknown_change",
                   [] { return Replaced(Sound(), "changes=serial-setup", "changes=teleport"); },
                   true, true},
        DamageCase{"bad_number", [] { return Replaced(Sound(), "row=1", "row=one"); }, true, true},
        DamageCase{"bad_escape", [] { return Replaced(Sound(), "\\x0D", "\\q0D"); }, true, true},
        DamageCase{"another_version",
                   [] {
                       return Replaced(
                           Sound(),
                           std::string(kJournalHeader) + " " + std::to_string(kJournalVersion),
                           std::string(kJournalHeader) + " " + std::to_string(kJournalVersion + 1));
                   },
                   false, true},
        DamageCase{"huge_after_a_sound_entry",
                   [] { return Sound() + std::string(kJournalMaxFileSize * 8, 'x'); }, true, true},
        DamageCase{"huge_without_a_line", [] { return std::string(kJournalMaxFileSize * 8, 'k'); },
                   false, true}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(JournalEntryText, KeepsEveryFieldThroughWritingAndReading) {
    const JournalEntry entry = SampleEntry("127.0.0.2");
    const ParsedJournalEntry parsed = ParseJournalEntry(FormatJournalEntry(entry));
    ASSERT_TRUE(parsed.entry);
    EXPECT_TRUE(parsed.problem.empty());
    ExpectSameEntry(*parsed.entry, entry);
}

TEST(JournalEntryText, FileNamesOfDifferentDevicesNeverMeet) {
    const DeviceKey keys[] = {{ConnectionKind::Serial, "/dev/ttyUSB0", {}},
                              {ConnectionKind::Serial, "_dev_ttyUSB0", {}},
                              {ConnectionKind::Usb, "/dev/ttyUSB0", {}},
                              {ConnectionKind::Serial, "../../etc", {}}};
    std::set<std::string> stems;
    for (const DeviceKey& key : keys) {
        const std::string stem = JournalFileStem(key);
        EXPECT_EQ(stem.find('/'), std::string::npos) << stem;
        stems.insert(stem);
    }
    EXPECT_EQ(stems.size(), std::size(keys));
}

// Two programs on one journal folder: the window and kvboot, or two kvboots.
TEST(RunJournalFiles, AnEntryIsHeldWhileItsProgramLivesAndFreeAfterItDied) {
    JournalFolder folder;
    const JournalEntry sample = SampleEntry("127.0.0.2");
    RunJournal running(folder.path);
    RunJournal other(folder.path);
    running.deviceChanging(sample.device, sample.facts, DeviceChange::SerialSetup);
    running.rowStarted(sample.device, 1, "RV-BTN16");
    running.deviceChanging(sample.device, sample.facts, DeviceChange::Erase);

    EXPECT_TRUE(other.openEntries().empty());
    ASSERT_EQ(other.heldEntries().size(), 1u);
    // The other program's writes to the held entry are refused, and it says so.
    other.deviceChanging(sample.device, sample.facts, DeviceChange::Upload);
    EXPECT_FALSE(other.takeWarning().empty());

    running.abandon();  // as SIGKILL leaves it
    const std::vector<JournalEntry> open = other.openEntries();
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0].rowType, "RV-BTN16");
    EXPECT_EQ(open[0].changes,
              (std::vector<DeviceChange>{DeviceChange::SerialSetup, DeviceChange::Erase}));
    EXPECT_EQ(open[0].facts.normalSerial, sample.facts.normalSerial);

    other.restored(sample.device);
    EXPECT_TRUE(folder.files().empty());
    EXPECT_TRUE(other.openEntries().empty());
}

TEST(RunJournalFiles, AProgramThatTakesOverADeadEntryKeepsItsRowAndFirstSetting) {
    JournalFolder folder;
    JournalEntry sample = SampleEntry("127.0.0.2");
    {
        RunJournal died(folder.path);
        died.deviceChanging(sample.device, sample.facts, DeviceChange::SerialSetup);
        died.rowStarted(sample.device, 1, "RV-BTN16");
    }
    RunJournal next(folder.path);
    RestoreFacts later = sample.facts;
    later.normalSerial = "setup_57600_none";  // read from a module left switched over
    next.deviceChanging(sample.device, later, DeviceChange::BootloaderMode);
    const std::vector<JournalEntry> open = next.openEntries();
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0].rowType, "RV-BTN16");
    EXPECT_EQ(open[0].facts.normalSerial, sample.facts.normalSerial);
    EXPECT_TRUE(open[0].has(DeviceChange::SerialSetup));
    EXPECT_TRUE(open[0].has(DeviceChange::BootloaderMode));
    next.restored(sample.device);
    EXPECT_TRUE(folder.files().empty());
}

}  // namespace
}  // namespace kv
