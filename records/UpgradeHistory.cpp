#include "records/UpgradeHistory.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kv {

namespace fs = std::filesystem;

namespace {

// A record line is a few kilobytes; a longer one is no record of ours.
constexpr std::size_t kMaxLineBytes = 1u << 20;
// Rotations another process may do while this one waits to append.
constexpr int kAppendAttempts = 4;

std::string systemError(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

JsonValue deviceJson(const HistoryDevice& d) {
    JsonValue out = JsonValue::object();
    out.set("kind", JsonValue::textOrNull(d.kind));
    out.set("name", JsonValue::textOrNull(d.name));
    out.set("ident", JsonValue::textOrNull(d.ident));
    out.set("serial", JsonValue::textOrNull(d.serial));
    out.set("mac", JsonValue::textOrNull(d.mac));
    out.set("address", JsonValue::textOrNull(d.address));
    out.set("module_version", JsonValue::textOrNull(d.moduleVersion));
    return out;
}

JsonValue rowJson(const HistoryRow& r) {
    JsonValue out = JsonValue::object();
    out.set("row", r.row);
    out.set("type", JsonValue::textOrNull(r.type));
    out.set("hardware", JsonValue::textOrNull(r.hardware));
    out.set("from", JsonValue::textOrNull(r.from));
    out.set("to", r.to ? JsonValue(*r.to) : JsonValue());
    out.set("expected", JsonValue::textOrNull(r.expected));
    out.set("file", JsonValue::textOrNull(r.file));
    out.set("size", r.size ? JsonValue(*r.size) : JsonValue());
    out.set("sha256", JsonValue::textOrNull(r.sha256));
    out.set("state", JsonValue::textOrNull(r.state));
    out.set("reason", JsonValue::textOrNull(r.reason));
    out.set("retransmissions", r.retransmissions);
    out.set("rewrites", r.rewrites);
    out.set("seconds", r.seconds);
    return out;
}

int intAt(const JsonValue& value, std::string_view key, int otherwise) {
    const double n = value.numberAt(key, otherwise);
    return n >= -1e9 && n <= 1e9 ? static_cast<int>(n) : otherwise;
}

HistoryRow rowFrom(const JsonValue& v) {
    HistoryRow r;
    r.row = intAt(v, "row", -1);
    r.type = v.textAt("type");
    r.hardware = v.textAt("hardware");
    r.from = v.textAt("from");
    if (const JsonValue* to = v.find("to"); to && to->text()) r.to = *to->text();
    r.expected = v.textAt("expected");
    r.file = v.textAt("file");
    if (const JsonValue* size = v.find("size"); size && size->number() && *size->number() >= 0)
        r.size = static_cast<std::uint64_t>(*size->number());
    r.sha256 = v.textAt("sha256");
    r.state = v.textAt("state");
    r.reason = v.textAt("reason");
    r.retransmissions = intAt(v, "retransmissions", 0);
    r.rewrites = intAt(v, "rewrites", 0);
    r.seconds = v.numberAt("seconds");
    return r;
}

#ifndef _WIN32
struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// One write() of the whole line under an exclusive lock on the file, then fsync.
std::string appendLine(const fs::path& path, const fs::path& rotated, std::uintmax_t rotateBytes,
                       const std::string& line) {
    for (int attempt = 0; attempt < kAppendAttempts; ++attempt) {
        Descriptor file;
        // Read as well: the last byte tells whether a crash cut the last line.
        file.fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (file.fd < 0) return systemError("cannot open " + path.string(), errno);
        // Released when the descriptor closes.
        while (::flock(file.fd, LOCK_EX) != 0) {
            if (errno != EINTR) return systemError("cannot lock " + path.string(), errno);
        }
        struct stat opened {};
        struct stat named {};
        if (::fstat(file.fd, &opened) != 0)
            return systemError("cannot read " + path.string(), errno);
        // Another process rotated the file while this one waited for the lock.
        if (::stat(path.c_str(), &named) != 0 || !sameFile(opened, named)) continue;
        const auto size = static_cast<std::uintmax_t>(opened.st_size);
        if (size >= rotateBytes) {
            if (::rename(path.c_str(), rotated.c_str()) != 0)
                return systemError("cannot rename " + path.string(), errno);
            continue;
        }
        std::string text = line;
        char last = '\n';
        // A line cut short by a crash stays on its own line.
        if (size > 0 && ::pread(file.fd, &last, 1, static_cast<off_t>(size - 1)) == 1 &&
            last != '\n') {
            text.insert(text.begin(), '\n');
        }
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::write(file.fd, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return systemError("cannot write " + path.string(), errno);
            done += static_cast<std::size_t>(n);
        }
        if (::fsync(file.fd) != 0) return systemError("cannot sync " + path.string(), errno);
        return {};
    }
    return "cannot append to " + path.string() + ": it is being rotated again and again";
}
#else
// Windows: the same without the lock (the runtime's append mode seeks to the end for each
// write) and with _commit for the sync.
std::string appendLine(const fs::path& path, const fs::path& rotated, std::uintmax_t rotateBytes,
                       const std::string& line) {
    std::error_code ec;
    if (fs::exists(path, ec) && fs::file_size(path, ec) >= rotateBytes) {
        fs::rename(path, rotated, ec);
        if (ec) return "cannot rename " + path.string() + ": " + ec.message();
    }
    const int fd =
        ::_wopen(path.c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) return systemError("cannot open " + path.string(), errno);
    const int written = ::_write(fd, line.data(), static_cast<unsigned>(line.size()));
    const bool ok = written == static_cast<int>(line.size()) && ::_commit(fd) == 0;
    const int error = errno;
    ::_close(fd);
    return ok ? std::string() : systemError("cannot write " + path.string(), error);
}
#endif

}  // namespace

JsonValue ToJsonValue(const UpgradeRecord& record) {
    JsonValue out = JsonValue::object();
    out.set("start", record.start);
    out.set("end", JsonValue::textOrNull(record.end));
    out.set("user", JsonValue::textOrNull(record.user));
    out.set("host", JsonValue::textOrNull(record.host));
    out.set("front_end", JsonValue::textOrNull(record.frontEnd));
    out.set("device", deviceJson(record.device));
    JsonValue rows = JsonValue::array();
    for (const HistoryRow& row : record.rows) rows.push(rowJson(row));
    out.set("rows", std::move(rows));
    out.set("verdict", JsonValue::textOrNull(record.verdict));
    out.set("reason", JsonValue::textOrNull(record.reason));
    out.set("retransmissions", record.retransmissions);
    out.set("rewrites", record.rewrites);
    return out;
}

std::optional<UpgradeRecord> RecordFromJson(const JsonValue& value) {
    const JsonValue* device = value.find("device");
    if (value.textAt("start").empty() || !device || device->kind() != JsonValue::Kind::Object)
        return std::nullopt;
    UpgradeRecord r;
    r.start = value.textAt("start");
    r.end = value.textAt("end");
    r.user = value.textAt("user");
    r.host = value.textAt("host");
    r.frontEnd = value.textAt("front_end");
    r.device.kind = device->textAt("kind");
    r.device.name = device->textAt("name");
    r.device.ident = device->textAt("ident");
    r.device.serial = device->textAt("serial");
    r.device.mac = device->textAt("mac");
    r.device.address = device->textAt("address");
    r.device.moduleVersion = device->textAt("module_version");
    if (const JsonValue* rows = value.find("rows")) {
        for (const JsonValue& row : rows->items())
            if (row.kind() == JsonValue::Kind::Object) r.rows.push_back(rowFrom(row));
    }
    r.verdict = value.textAt("verdict");
    r.reason = value.textAt("reason");
    r.retransmissions = intAt(value, "retransmissions", 0);
    r.rewrites = intAt(value, "rewrites", 0);
    return r;
}

void ReadHistoryLines(std::istream& in, const std::string& name, HistoryReading& reading) {
    int damaged = 0;
    try {
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.find_first_not_of(" \t") == std::string::npos) continue;
            std::optional<UpgradeRecord> record;
            if (line.size() <= kMaxLineBytes) {
                if (std::optional<JsonValue> value = ParseJson(line))
                    record = RecordFromJson(*value);
            }
            if (record) {
                reading.records.push_back(std::move(*record));
            } else {
                ++damaged;
            }
        }
    } catch (const std::exception&) {
        // Out of memory on a huge line or a stream error: what was read stays.
        ++damaged;
    }
    if (damaged == 0) return;
    reading.damaged += damaged;
    if (!reading.warning.empty()) reading.warning += "; ";
    reading.warning += name + ": " + std::to_string(damaged) +
                       (damaged == 1 ? " damaged line" : " damaged lines") + " skipped";
}

std::string LocalUserName() {
    for (const char* variable : {"USER", "LOGNAME", "USERNAME"}) {
        if (const char* value = std::getenv(variable); value && *value) return value;
    }
#ifndef _WIN32
    // A service or a container may set none of them.
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_name)
        return entry->pw_name;
#endif
    return {};
}

std::string LocalHostName() {
#ifdef _WIN32
    const char* name = std::getenv("COMPUTERNAME");
    return name ? name : "";
#else
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
#endif
}

std::string IsoUtc(std::chrono::system_clock::time_point when) {
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &t);
#else
    gmtime_r(&t, &utc);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

UpgradeHistory::UpgradeHistory(fs::path folder, std::uintmax_t rotateBytes)
    : folder_(std::move(folder)), rotateBytes_(rotateBytes) {}

std::string UpgradeHistory::append(const UpgradeRecord& record) const {
    std::error_code ec;
    fs::create_directories(folder_, ec);
    if (ec) return "cannot make the folder " + folder_.string() + ": " + ec.message();
    try {
        return appendLine(path(), rotatedPath(), rotateBytes_,
                          WriteJson(ToJsonValue(record)) + "\n");
    } catch (const std::exception& e) {
        return "cannot append to " + path().string() + ": " + e.what();
    }
}

HistoryReading UpgradeHistory::read() const {
    HistoryReading reading;
    for (const fs::path& file : {rotatedPath(), path()}) {
        std::ifstream in(file, std::ios::binary);
        if (in) ReadHistoryLines(in, file.filename().string(), reading);
    }
    return reading;
}

}  // namespace kv
