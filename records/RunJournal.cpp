#include "records/RunJournal.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <system_error>
#include <thread>
#include <utility>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kv {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kEntryExtension = ".entry";
constexpr std::string_view kLockExtension = ".lock";
constexpr std::string_view kTempExtension = ".tmp";
constexpr std::string_view kEndLine = "end";
constexpr int kLockTries = 3;
// Another program looking at the journal holds an entry's lock for a moment only; the
// program that writes the entry waits that long for it.
constexpr auto kLockPatience = std::chrono::milliseconds(500);
constexpr auto kLockRetry = std::chrono::milliseconds(10);
// An entry another running program holds is asked for again after this long.
constexpr auto kRefusalMemory = std::chrono::seconds(10);

std::int64_t nowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

const char* const kHex = "0123456789ABCDEF";

// Control bytes and the backslash as \xHH, so that a value never breaks its line.
std::string escape(std::string_view text) {
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F || c == '\\') {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::optional<std::string> unescape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (i + 3 >= text.size() || text[i + 1] != 'x') return std::nullopt;
        const int high = hexDigit(text[i + 2]);
        const int low = hexDigit(text[i + 3]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high << 4 | low);
        i += 3;
    }
    return out;
}

template <typename Number>
std::optional<Number> number(std::string_view text) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<ConnectionKind> kindNamed(std::string_view name) {
    for (ConnectionKind kind :
         {ConnectionKind::Network, ConnectionKind::Serial, ConnectionKind::Usb})
        if (DeviceKindName(kind) == name) return kind;
    return std::nullopt;
}

std::string changeList(const std::vector<DeviceChange>& changes) {
    std::string out;
    for (DeviceChange change : changes) {
        if (!out.empty()) out += ',';
        out += DeviceChangeName(change);
    }
    return out;
}

// One field into the entry; false when the value does not fit the field.
bool takeField(JournalEntry& entry, std::string_view key, const std::string& value) {
    auto set = [&](auto& field) {
        using Field = std::decay_t<decltype(field)>;
        if constexpr (std::is_same_v<Field, std::string>) {
            field = value;
            return true;
        } else if constexpr (std::is_same_v<Field, bool>) {
            if (value != "0" && value != "1") return false;
            field = value == "1";
            return true;
        } else {
            const auto parsed = number<Field>(value);
            if (parsed) field = *parsed;
            return parsed.has_value();
        }
    };
    RestoreFacts& facts = entry.facts;
    if (key == "kind") {
        const auto kind = kindNamed(value);
        if (kind) entry.device.kind = *kind;
        return kind.has_value();
    }
    if (key == "changes") {
        std::string_view rest = value;
        while (!rest.empty()) {
            const std::size_t comma = rest.find(',');
            const auto change = DeviceChangeNamed(rest.substr(0, comma));
            if (!change) return false;
            if (!entry.has(*change)) entry.changes.push_back(*change);
            rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        }
        return true;
    }
    if (key == "device") return set(entry.device.id);
    if (key == "mac") return set(entry.device.mac);
    if (key == "name") return set(facts.name);
    if (key == "firmware") return set(facts.firmwareNumber);
    if (key == "first_row") return set(facts.firstRow);
    if (key == "direct_matrix") return set(facts.directSetupMatrix);
    if (key == "direct_modular") return set(facts.directSetupModular);
    if (key == "tunnel_port") return set(facts.tunnelPort);
    if (key == "normal_serial") return set(facts.normalSerial);
    if (key == "row") return set(entry.row);
    if (key == "row_type") return set(entry.rowType);
    if (key == "done") return set(entry.done);
    if (key == "total") return set(entry.total);
    if (key == "opened") return set(entry.openedAt);
    if (key == "updated") return set(entry.stoppedAt);
    return true;  // a field a later revision of this version added: not needed here
}

// Reads at most kJournalMaxFileSize bytes; `cut` tells whether the file was longer.
std::optional<std::string> readBounded(const fs::path& path, bool& cut) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text(kJournalMaxFileSize + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    cut = text.size() > kJournalMaxFileSize;
    if (cut) text.resize(kJournalMaxFileSize);
    return text;
}

#ifndef _WIN32
// An exclusive lock on the entry's lock file, or -1 when another program holds it. The
// lock file may be removed by its holder as it closes the entry: a lock taken on a file
// that is no longer the one at the path is given up and taken again.
int tryLock(const fs::path& path, std::chrono::milliseconds patience = {}) {
    const auto end = std::chrono::steady_clock::now() + patience;
    for (int attempt = 0; attempt < kLockTries; ++attempt) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) return -1;
        while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if (std::chrono::steady_clock::now() >= end) {
                ::close(fd);
                return -1;
            }
            std::this_thread::sleep_for(kLockRetry);
        }
        struct stat held {};
        struct stat named {};
        if (::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
            held.st_ino == named.st_ino && held.st_dev == named.st_dev) {
            return fd;
        }
        ::close(fd);
    }
    return -1;
}

void unlock(int fd) {
    if (fd >= 0) ::close(fd);
}

// Writes the whole text to `temp`, flushes it to disk and renames it over `target`.
bool writeDurably(const fs::path& temp, const fs::path& target, const std::string& text) {
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ::close(fd);
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    if (!synced || std::rename(temp.c_str(), target.c_str()) != 0) return false;
    // The rename itself reaches the disk with the folder.
    const int folder = ::open(target.parent_path().c_str(), O_RDONLY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}
#else
// No advisory locks here: entries are per device, and one program per machine drives one
// device on this platform's front ends.
int tryLock(const fs::path&, std::chrono::milliseconds = {}) {
    return 0;
}
void unlock(int) {}
bool writeDurably(const fs::path& temp, const fs::path& target, const std::string& text) {
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) return false;
    }
    std::error_code error;
    fs::rename(temp, target, error);
    return !error;
}
#endif

fs::path withExtension(const fs::path& folder, const std::string& stem, std::string_view ext) {
    return folder / (stem + std::string(ext));
}

// Entry values merged in: facts known now win, except the setting before the first change.
void mergeFacts(RestoreFacts& into, const RestoreFacts& now) {
    const std::string normal = into.normalSerial;
    if (!now.name.empty()) into.name = now.name;
    if (now.firmwareNumber) into.firmwareNumber = now.firmwareNumber;
    if (!now.firstRow.empty()) into.firstRow = now.firstRow;
    if (now.tunnelPort) into.tunnelPort = now.tunnelPort;
    into.directSetupMatrix = now.directSetupMatrix;
    into.directSetupModular = now.directSetupModular;
    into.normalSerial = normal.empty() ? now.normalSerial : normal;
}

}  // namespace

std::string FormatJournalEntry(const JournalEntry& entry) {
    const RestoreFacts& f = entry.facts;
    std::string text = std::string(kJournalHeader) + " " + std::to_string(kJournalVersion) + "\n";
    auto line = [&text](std::string_view key, const std::string& value) {
        text += std::string(key) + "=" + escape(value) + "\n";
    };
    line("kind", std::string(DeviceKindName(entry.device.kind)));
    line("device", entry.device.id);
    line("mac", entry.device.mac);
    line("name", f.name);
    line("firmware", std::to_string(f.firmwareNumber));
    line("first_row", f.firstRow);
    line("direct_matrix", f.directSetupMatrix ? "1" : "0");
    line("direct_modular", f.directSetupModular ? "1" : "0");
    line("tunnel_port", std::to_string(f.tunnelPort));
    line("normal_serial", f.normalSerial);
    line("changes", changeList(entry.changes));
    line("row", std::to_string(entry.row));
    line("row_type", entry.rowType);
    line("done", std::to_string(entry.done));
    line("total", std::to_string(entry.total));
    line("opened", std::to_string(entry.openedAt));
    line("updated", std::to_string(entry.stoppedAt));
    text += std::string(kEndLine) + "\n";
    return text;
}

ParsedJournalEntry ParseJournalEntry(std::string_view text) {
    ParsedJournalEntry parsed;
    auto nextLine = [&text]() -> std::optional<std::string_view> {
        if (text.empty()) return std::nullopt;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        return line;
    };
    const auto header = nextLine();
    const std::string expected = std::string(kJournalHeader) + " ";
    if (!header || header->substr(0, expected.size()) != expected) {
        parsed.problem = header ? "not a journal entry" : "empty";
        return parsed;
    }
    if (header->substr(expected.size()) != std::to_string(kJournalVersion)) {
        parsed.problem =
            "written by another version (" + std::string(header->substr(expected.size())) + ")";
        return parsed;
    }
    JournalEntry entry;
    bool ended = false;
    while (const auto line = nextLine()) {
        if (*line == kEndLine) {
            ended = true;
            break;
        }
        const std::size_t equals = line->find('=');
        const auto value =
            equals == std::string_view::npos ? std::nullopt : unescape(line->substr(equals + 1));
        if (!value || !takeField(entry, line->substr(0, equals), *value)) {
            parsed.problem = "damaged line \"" + escape(line->substr(0, 40)) + "\"";
            break;
        }
    }
    if (parsed.problem.empty() && !ended) parsed.problem = "cut short";
    // What was read up to the damage still says which device was left changed.
    if (entry.device.valid())
        parsed.entry = std::move(entry);
    else if (parsed.problem.empty())
        parsed.problem = "no device named";
    return parsed;
}

JournalReading ReadJournalEntries(const fs::path& folder) {
    JournalReading reading;
    std::vector<std::string> damaged;
    std::error_code error;
    fs::directory_iterator it(folder, error);
    std::size_t files = 0;
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        const fs::path& path = it->path();
        if (path.extension() != kEntryExtension) continue;
        if (++files > kJournalMaxFiles) {
            damaged.push_back("more than " + std::to_string(kJournalMaxFiles) + " entries");
            break;
        }
        bool cut = false;
        const auto text = readBounded(path, cut);
        if (!text) continue;  // closed meanwhile by another program
        ParsedJournalEntry parsed = ParseJournalEntry(*text);
        std::string problem = parsed.problem;
        if (cut) problem = "larger than " + std::to_string(kJournalMaxFileSize) + " bytes";
        if (!problem.empty()) damaged.push_back(path.filename().string() + ": " + problem);
        if (parsed.entry) {
            reading.entries.push_back(std::move(*parsed.entry));
            reading.fileStems.push_back(path.stem().string());
        }
    }
    if (!damaged.empty()) {
        reading.warning =
            "The run journal in " + folder.string() + " is damaged; read as far as sound (" +
            damaged.front() +
            (damaged.size() > 1 ? ", and " + std::to_string(damaged.size() - 1) + " more" : "") +
            ")";
    }
    return reading;
}

fs::path JournalFolderIn(const std::string& appDataFolder) {
    return fs::path(appDataFolder) / "journal";
}

std::unique_ptr<RunJournal> OpenRunJournal(const std::string& appDataFolder) {
    std::error_code error;
    if (appDataFolder.empty() || !fs::is_directory(appDataFolder, error)) return nullptr;
    return std::make_unique<RunJournal>(JournalFolderIn(appDataFolder));
}

std::string JournalFileStem(const DeviceKey& device) {
    std::string stem(DeviceKindName(device.kind));
    stem += '-';
    for (unsigned char c : device.id) {
        const bool plain = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
                           (c >= 'A' && c <= 'Z') || c == '.' || c == '-';
        if (plain) {
            stem += static_cast<char>(c);
        } else {
            stem += '_';
            stem += kHex[c >> 4];
            stem += kHex[c & 0x0F];
        }
    }
    return stem;
}

RunJournal::RunJournal(fs::path folder) : folder_(std::move(folder)) {
    std::error_code ignored;
    fs::create_directories(folder_, ignored);
}

RunJournal::~RunJournal() {
    abandon();
}

void RunJournal::abandon() {
    std::lock_guard guard(mutex_);
    for (auto& [stem, held] : held_) unlock(held.lockFd);
    held_.clear();
}

void RunJournal::warn(const std::string& text) {
    if (text.empty() || !warned_.insert(text).second) return;
    if (!warning_.empty()) warning_ += "\n";
    warning_ += text;
}

RunJournal::Held* RunJournal::hold(const DeviceKey& device) {
    const std::string stem = JournalFileStem(device);
    if (auto it = held_.find(stem); it != held_.end()) return &it->second;
    const auto now = std::chrono::steady_clock::now();
    if (auto it = refused_.find(stem); it != refused_.end() && now - it->second < kRefusalMemory)
        return nullptr;
    const int fd = tryLock(withExtension(folder_, stem, kLockExtension), kLockPatience);
    if (fd < 0) {
        refused_[stem] = now;
        warn("The run journal entry of " + device.id +
             " is held by another program; this program's changes to it are not recorded");
        return nullptr;
    }
    Held held;
    held.lockFd = fd;
    held.entry.device = device;
    held.entry.openedAt = nowSeconds();
    // An entry a program that died left stays as it was, with this program's changes added.
    bool cut = false;
    if (const auto text = readBounded(withExtension(folder_, stem, kEntryExtension), cut)) {
        ParsedJournalEntry parsed = ParseJournalEntry(*text);
        if (parsed.entry && parsed.entry->device.sameDevice(device)) held.entry = *parsed.entry;
    }
    if (held.entry.device.mac.empty()) held.entry.device.mac = device.mac;
    return &held_.emplace(stem, std::move(held)).first->second;
}

void RunJournal::write(Held& held) {
    held.entry.stoppedAt = nowSeconds();
    held.written = std::chrono::steady_clock::now();
    const std::string stem = JournalFileStem(held.entry.device);
    if (!writeDurably(withExtension(folder_, stem, kTempExtension),
                      withExtension(folder_, stem, kEntryExtension),
                      FormatJournalEntry(held.entry))) {
        warn("The run journal cannot be written in " + folder_.string());
    }
}

void RunJournal::deviceChanging(const DeviceKey& device, const RestoreFacts& facts,
                                DeviceChange change) {
    std::lock_guard guard(mutex_);
    Held* held = hold(device);
    if (!held) return;
    JournalEntry& entry = held->entry;
    const RestoreFacts before = entry.facts;
    mergeFacts(entry.facts, facts);
    const bool known = entry.has(change);
    if (!known) entry.changes.push_back(change);
    const bool factsChanged = entry.facts.name != before.name ||
                              entry.facts.firstRow != before.firstRow ||
                              entry.facts.normalSerial != before.normalSerial ||
                              entry.facts.firmwareNumber != before.firmwareNumber;
    // Repeats of a change already recorded (every block of a run) need no write.
    if (!known || factsChanged || held->written == std::chrono::steady_clock::time_point{})
        write(*held);
}

void RunJournal::rowStarted(const DeviceKey& device, int row, const std::string& type) {
    std::lock_guard guard(mutex_);
    Held* held = hold(device);
    if (!held) return;
    held->entry.row = row;
    held->entry.rowType = type;
    held->entry.done = 0;
    held->entry.total = 0;
    write(*held);
}

void RunJournal::progress(const DeviceKey& device, std::uint64_t done, std::uint64_t total) {
    std::lock_guard guard(mutex_);
    auto it = held_.find(JournalFileStem(device));
    if (it == held_.end()) return;  // nothing changed on the device yet
    Held& held = it->second;
    held.entry.done = done;
    held.entry.total = total;
    if (std::chrono::steady_clock::now() - held.written >= kJournalProgressInterval) write(held);
}

void RunJournal::release(const std::string& stem, Held& held, bool closeEntry) {
    if (closeEntry) {
        std::error_code ignored;
        fs::remove(withExtension(folder_, stem, kEntryExtension), ignored);
        fs::remove(withExtension(folder_, stem, kTempExtension), ignored);
        // Removed while locked: a program waiting for it sees the file gone and retries.
        fs::remove(withExtension(folder_, stem, kLockExtension), ignored);
    }
    unlock(held.lockFd);
}

void RunJournal::restored(const DeviceKey& device) {
    std::lock_guard guard(mutex_);
    const std::string stem = JournalFileStem(device);
    if (auto it = held_.find(stem); it != held_.end()) {
        release(stem, it->second, true);
        held_.erase(it);
        return;
    }
    // An entry a program that died left: closed when no running program holds it.
    std::error_code error;
    if (!fs::exists(withExtension(folder_, stem, kEntryExtension), error)) return;
    Held held;
    held.lockFd = tryLock(withExtension(folder_, stem, kLockExtension));
    if (held.lockFd < 0) return;
    release(stem, held, true);
}

std::vector<JournalEntry> RunJournal::entriesOnDisk(bool wantHeld) {
    JournalReading reading = ReadJournalEntries(folder_);
    warn(reading.warning);
    std::vector<JournalEntry> out;
    for (std::size_t i = 0; i < reading.entries.size(); ++i) {
        const std::string& stem = reading.fileStems[i];
        if (held_.count(stem)) continue;
        const fs::path lock = withExtension(folder_, stem, kLockExtension);
        const int fd = tryLock(lock);
        const bool heldElsewhere = fd < 0;
        unlock(fd);
        if (heldElsewhere == wantHeld) out.push_back(std::move(reading.entries[i]));
    }
    return out;
}

std::vector<JournalEntry> RunJournal::openEntries() {
    std::lock_guard guard(mutex_);
    std::vector<JournalEntry> out = entriesOnDisk(false);
    for (const auto& [stem, held] : held_) out.push_back(held.entry);
    return out;
}

std::vector<JournalEntry> RunJournal::heldEntries() {
    std::lock_guard guard(mutex_);
    return entriesOnDisk(true);
}

std::string RunJournal::takeWarning() {
    std::lock_guard guard(mutex_);
    return std::exchange(warning_, std::string());
}

}  // namespace kv
