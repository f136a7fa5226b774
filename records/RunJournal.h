#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/Journal.h"

namespace kv {

// The journal's files: one small text file per device with an open entry, in the
// journal folder of the per-user data folder. Each file is written whole to a temporary
// file, flushed to disk and renamed into place, so a crash leaves the old or the new
// content; closing an entry removes its file.
//
// Format, one `key=value` per line, values escaped (\\, \xHH for control bytes):
//   kvjournal 1
//   kind=network | serial | usb
//   device=127.0.0.2       (address, port name or USB serial)
//   mac=... name=... firmware=... first_row=... direct_matrix=0|1 direct_modular=0|1
//   tunnel_port=... normal_serial=... changes=serial-setup,erase,...
//   row=... row_type=... done=... total=... opened=... updated=...   (seconds, UTC)
//   end
inline constexpr std::string_view kJournalHeader = "kvjournal";
inline constexpr int kJournalVersion = 1;
// Bounds of a reading: a file larger than this is read only this far, and no more than
// kJournalMaxFiles files of a folder are read.
inline constexpr std::size_t kJournalMaxFileSize = 16 * 1024;
inline constexpr std::size_t kJournalMaxFiles = 512;
// Progress alone is written at most this often per device (changes and rows at once).
inline constexpr auto kJournalProgressInterval = std::chrono::seconds(1);

std::string FormatJournalEntry(const JournalEntry& entry);

struct ParsedJournalEntry {
    std::optional<JournalEntry> entry;  // nullopt: nothing usable
    std::string problem;                // empty when the text was sound
};
// Reads one entry's text as far as it is sound; never throws.
ParsedJournalEntry ParseJournalEntry(std::string_view text);

struct JournalReading {
    std::vector<JournalEntry> entries;
    std::vector<std::string> fileStems;  // the file each entry came from (without extension)
    // One line naming what was damaged and skipped; empty when everything was sound.
    std::string warning;
};
// Every entry file of `folder` as far as it is sound; a missing folder has none.
JournalReading ReadJournalEntries(const std::filesystem::path& folder);

// The journal folder inside the per-user data folder.
std::filesystem::path JournalFolderIn(const std::string& appDataFolder);
// The file name (without extension) of a device's entry.
std::string JournalFileStem(const DeviceKey& device);

class RunJournal;
// The journal of the per-user data folder; nullptr when that folder does not exist (the
// log went to its fallback folder then, and nothing is made where nobody asked for it).
std::unique_ptr<RunJournal> OpenRunJournal(const std::string& appDataFolder);

// The file-backed journal. While this object has an entry open it holds an advisory lock
// on it, so that another program (the window, another kvboot) neither recovers a device
// whose run is going on nor writes into the same entry; a program that dies loses the
// lock with its life, and its entries become free to recover.
class RunJournal : public Journal {
  public:
    explicit RunJournal(std::filesystem::path folder);
    // Lets go of the entries without closing them (as a program that dies leaves them).
    ~RunJournal() override;
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;

    void deviceChanging(const DeviceKey& device, const RestoreFacts& facts,
                        DeviceChange change) override;
    void rowStarted(const DeviceKey& device, int row, const std::string& type) override;
    void progress(const DeviceKey& device, std::uint64_t done, std::uint64_t total) override;
    void restored(const DeviceKey& device) override;
    std::vector<JournalEntry> openEntries() override;
    std::vector<JournalEntry> heldEntries() override;
    std::string takeWarning() override;

    // Releases every lock and forgets the entries without closing them: what SIGKILL
    // leaves behind, for tests and the fault campaign.
    void abandon();
    const std::filesystem::path& folder() const { return folder_; }

  private:
    struct Held {
        JournalEntry entry;
        int lockFd = -1;
        std::chrono::steady_clock::time_point written{};
    };
    Held* hold(const DeviceKey& device);
    void write(Held& held);
    void warn(const std::string& text);
    void release(const std::string& stem, Held& held, bool closeEntry);
    std::vector<JournalEntry> entriesOnDisk(bool wantHeld);

    std::filesystem::path folder_;
    std::mutex mutex_;
    std::map<std::string, Held> held_;  // by file stem
    // Entries another running program held when asked, and when.
    std::map<std::string, std::chrono::steady_clock::time_point> refused_;
    std::set<std::string> warned_;  // warnings given once
    std::string warning_;
};

}  // namespace kv
