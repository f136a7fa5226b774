#pragma once
// The upgrade history: one record per upgrade run, from the window and from kvboot, so that
// weeks later one can tell which device got which file from whom and how it ended.
//
// File: <data>/history.jsonl, one JSON object per line. Each record is appended with one
// write() on a descriptor opened for appending, under an exclusive lock, and synced before
// the call returns, so two processes appending at once never mix their lines and a crash
// loses at most the line being written. A line cut short by a crash is closed off by the
// next append (it begins on a line of its own) and skipped by the reader.
//
// Rotation: when the file has reached kRotateBytes, the next append first renames it to
// history.1.jsonl (dropping the previous one) and starts a new file: the history keeps at
// least the last kRotateBytes and at most twice that.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "records/JsonValue.h"

namespace kv {

// The device a run upgraded.
struct HistoryDevice {
    std::string kind;  // "network", "serial", "usb"
    std::string name;  // from its identification ("Device Properties")
    std::string ident;
    std::string serial;
    std::string mac;
    std::string address;  // IPv4 address, serial port name, or USB serial number
    std::string moduleVersion;
};

// One controller row of the run.
struct HistoryRow {
    int row = -1;
    std::string type;
    std::string hardware;
    std::string from;                   // the version the device showed before the run
    std::optional<std::string> to;      // the version read back after the run; none: not read
    std::string expected;               // the version asked for; empty: none
    std::string file;                   // full path
    std::optional<std::uint64_t> size;  // none when the file could not be read afterwards
    std::string sha256;                 // lower-case hex; empty when it could not be read
    std::string state;                  // "ok", "failed", "not-attempted", "interrupted",
                                        // "skipped"
    std::string reason;
    int retransmissions = 0;
    int rewrites = 0;
    double seconds = 0;
};

struct UpgradeRecord {
    std::string start;  // UTC, "2026-12-09T10:11:12Z"
    std::string end;
    std::string user;
    std::string host;
    std::string frontEnd;  // "window", "kvboot"
    HistoryDevice device;
    std::vector<HistoryRow> rows;
    std::string verdict;  // "ok", "failed", "interrupted", "unreachable", "refused",
                          // "unchanged" (every row skipped)
    std::string reason;   // why the run as a whole did not succeed, when it says so
    int retransmissions = 0;
    int rewrites = 0;
};

// The record as its line's JSON object, and back; nullopt for a value that is no record
// (no object, no start time, no device). Fields of the wrong type read as absent.
JsonValue ToJsonValue(const UpgradeRecord& record);
std::optional<UpgradeRecord> RecordFromJson(const JsonValue& value);

struct HistoryReading {
    std::vector<UpgradeRecord> records;  // oldest first
    int damaged = 0;                     // lines skipped
    // One warning for all the damaged lines ("" when none): which file and how many.
    std::string warning;
};

// Reads records line by line from `in`, skipping damaged lines (counted); never throws.
// `name` names the source in the warning.
void ReadHistoryLines(std::istream& in, const std::string& name, HistoryReading& reading);

// The local user's and machine's names, as the record gives them.
std::string LocalUserName();
std::string LocalHostName();
// UTC time as records write it.
std::string IsoUtc(std::chrono::system_clock::time_point when);

class UpgradeHistory {
  public:
    static constexpr std::uintmax_t kRotateBytes = 4u * 1024u * 1024u;
    static constexpr const char* kFileName = "history.jsonl";
    static constexpr const char* kRotatedName = "history.1.jsonl";

    explicit UpgradeHistory(std::filesystem::path folder,
                            std::uintmax_t rotateBytes = kRotateBytes);

    // Appends one record. Empty when written, otherwise why not (the folder cannot be made,
    // the disk is full ...); the caller reports it, the run it records is not affected.
    std::string append(const UpgradeRecord& record) const;

    // The rotated file, then the current one; missing files are no damage.
    HistoryReading read() const;

    std::filesystem::path path() const { return folder_ / kFileName; }
    std::filesystem::path rotatedPath() const { return folder_ / kRotatedName; }

  private:
    std::filesystem::path folder_;
    std::uintmax_t rotateBytes_;
};

}  // namespace kv
