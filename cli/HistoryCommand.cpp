// kvboot history: the upgrade runs the history file kept, newest first.
#include <algorithm>
#include <cctype>
#include <memory>
#include <sstream>

#include <CLI/CLI.hpp>

#include "cli/HistoryCommand.h"
#include "cli/Json.h"

namespace kv::cli {

namespace {

struct HistoryArguments {
    std::string target;
    std::string serial;
    std::string since;
    bool json = false;
};

// The number written at text[from, from + count) when it is digits within [low, high].
bool field(const std::string& text, std::size_t from, std::size_t count, int low, int high) {
    if (text.size() < from + count) return false;
    int value = 0;
    for (std::size_t i = from; i < from + count; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
        value = value * 10 + (text[i] - '0');
    }
    return value >= low && value <= high;
}

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string cell(const std::string& text, std::size_t width) {
    return text.size() >= width ? text + "  " : text + std::string(width + 2 - text.size(), ' ');
}

// "2026-12-09T10:11:12Z" -> "2026-12-09 10:11Z".
std::string shortTime(const std::string& iso) {
    if (iso.size() < 16) return iso;
    return iso.substr(0, 10) + " " + iso.substr(11, 5) + "Z";
}

std::string deviceCell(const HistoryDevice& device) {
    std::string text = device.address.empty() ? std::string("-") : device.address;
    if (!device.serial.empty()) text += " (" + device.serial + ")";
    return text;
}

void printTable(std::ostream& out, const std::vector<UpgradeRecord>& runs) {
    struct Line {
        std::string device, row, versions, verdict, when, reason;
    };
    std::vector<Line> lines;
    for (const UpgradeRecord& run : runs) {
        const std::string device = deviceCell(run.device);
        const std::string when = shortTime(run.start);
        if (run.rows.empty()) {
            lines.push_back({device, "-", "-", run.verdict, when, run.reason});
            continue;
        }
        for (const HistoryRow& row : run.rows) {
            const std::string from = row.from.empty() ? "-" : row.from;
            const std::string to = row.to && !row.to->empty() ? *row.to : "-";
            lines.push_back({device, row.type, from + " -> " + to, row.state, when,
                             row.state == "ok" ? std::string() : row.reason});
        }
    }
    Line head{"DEVICE", "ROW", "FROM -> TO", "VERDICT", "WHEN", ""};
    std::size_t widths[4] = {head.device.size(), head.row.size(), head.versions.size(),
                             head.verdict.size()};
    for (const Line& line : lines) {
        widths[0] = std::max(widths[0], line.device.size());
        widths[1] = std::max(widths[1], line.row.size());
        widths[2] = std::max(widths[2], line.versions.size());
        widths[3] = std::max(widths[3], line.verdict.size());
    }
    auto print = [&](const Line& line) {
        out << cell(line.device, widths[0]) << cell(line.row, widths[1])
            << cell(line.versions, widths[2]) << cell(line.verdict, widths[3]) << line.when << "\n";
        if (!line.reason.empty()) out << "    " << EscapedText(line.reason) << "\n";
    };
    print(head);
    for (const Line& line : lines) print(line);
}

int runHistory(const HistoryArguments& arguments, Runtime& runtime) {
    Console& console = runtime.console;
    HistoryFilter filter;
    if (!arguments.target.empty()) {
        std::string why;
        const std::optional<Target> target = ParseTarget(arguments.target, why);
        if (!target)
            return Refuse(console, arguments.json, ExitStatus::Usage,
                          {SessionError::BadInput, why});
        filter.address = target->address;
    }
    filter.serial = arguments.serial;
    if (!arguments.since.empty()) {
        const std::optional<std::string> since = ParseSince(arguments.since);
        if (!since) {
            return Refuse(console, arguments.json, ExitStatus::Usage,
                          {SessionError::BadInput,
                           "--since " + arguments.since +
                               ": expected a UTC date YYYY-MM-DD or time YYYY-MM-DDTHH:MM[:SS]"});
        }
        filter.since = *since;
    }
    const UpgradeHistory history(AppDataFolderFor(console.platformDataFolder));
    const HistoryReading reading = history.read();
    if (!reading.warning.empty()) console.err << "kvboot: " << reading.warning << "\n";
    const std::vector<UpgradeRecord> runs = SelectRuns(reading.records, filter);
    if (arguments.json) {
        Json document{{"status", std::string(ExitStatusName(ExitStatus::Ok))},
                      {"exit", ToInt(ExitStatus::Ok)}};
        Json list = Json::array();
        for (const UpgradeRecord& run : runs)
            list.push_back(Json::parse(WriteJson(ToJsonValue(run))));
        document["runs"] = std::move(list);
        document["file"] = history.path().string();
        document["damaged_lines"] = reading.damaged;
        console.out << Dump(document) << "\n";
    } else if (runs.empty()) {
        console.out << "No upgrade runs recorded"
                    << (reading.records.empty() ? " in " + history.path().string()
                                                : std::string(" that match"))
                    << "\n";
    } else {
        printTable(console.out, runs);
    }
    return ToInt(ExitStatus::Ok);
}

}  // namespace

std::optional<std::string> ParseSince(const std::string& text) {
    std::string t = text;
    if (!t.empty() && (t.back() == 'Z' || t.back() == 'z')) t.pop_back();
    if (t.size() > 10 && t[10] == ' ') t[10] = 'T';
    const bool date = t.size() >= 10 && field(t, 0, 4, 0, 9999) && t[4] == '-' &&
                      field(t, 5, 2, 1, 12) && t[7] == '-' && field(t, 8, 2, 1, 31);
    if (!date) return std::nullopt;
    if (t.size() == 10) return t + "T00:00:00Z";
    const bool minutes = t.size() >= 16 && t[10] == 'T' && field(t, 11, 2, 0, 23) && t[13] == ':' &&
                         field(t, 14, 2, 0, 59);
    if (!minutes) return std::nullopt;
    if (t.size() == 16) return t + ":00Z";
    if (t.size() == 19 && t[16] == ':' && field(t, 17, 2, 0, 60)) return t + "Z";
    return std::nullopt;
}

std::vector<UpgradeRecord> SelectRuns(const std::vector<UpgradeRecord>& records,
                                      const HistoryFilter& filter) {
    std::vector<UpgradeRecord> runs;
    // Later lines were appended later: reversed, then ordered by start time, newest first.
    for (auto it = records.rbegin(); it != records.rend(); ++it) {
        const UpgradeRecord& run = *it;
        if (!filter.address.empty() && lowered(run.device.address) != lowered(filter.address))
            continue;
        if (!filter.serial.empty() && run.device.serial != filter.serial) continue;
        if (!filter.since.empty() && run.start < filter.since) continue;
        runs.push_back(run);
    }
    std::stable_sort(runs.begin(), runs.end(), [](const UpgradeRecord& a, const UpgradeRecord& b) {
        return a.start > b.start;
    });
    return runs;
}

Subcommand HistoryCommand() {
    return {"history", [](CLI::App& app, Runtime& runtime) -> std::function<int()> {
                auto arguments = std::make_shared<HistoryArguments>();
                CLI::App* command = app.add_subcommand(
                    "history",
                    "List the upgrade runs recorded in the history file (history.jsonl in the "
                    "log folder, with its rotated history.1.jsonl), newest first: device, row, "
                    "version before -> version read back, verdict, when (UTC)");
                auto* target = command->add_option(
                    "TARGET", arguments->target,
                    "Only runs of this device: its address, serial port or usb:SERIAL");
                command
                    ->add_option("--serial", arguments->serial,
                                 "Only runs of the device with this serial number")
                    ->excludes(target);
                command->add_option("--since", arguments->since,
                                    "Only runs started at or after this UTC date or time "
                                    "(YYYY-MM-DD or YYYY-MM-DDTHH:MM[:SS])");
                command->add_flag("--json", arguments->json,
                                  "Print {\"status\",\"exit\",\"runs\":[...]} as one document");
                return [arguments, &runtime, command]() -> int {
                    if (!command->parsed()) return -1;
                    return runHistory(*arguments, runtime);
                };
            }};
}

}  // namespace kv::cli
