#include "cli/FleetRunner.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "cli/UpgradeRun.h"
#include "cli/Versions.h"
#include "upgrade/UpgradeRows.h"

namespace kv::cli {

namespace {

using Steady = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Devices that may not run at the same time share a lane: a serial port carries one
// device's bootloader traffic at a time, and a USB device re-enumerates as a bootloader
// that another run could take for its own.
std::string laneOf(const Target& target, std::size_t index) {
    switch (target.kind) {
        case TargetKind::Serial:
            return "serial:" + target.address;
        case TargetKind::Usb:
            return "usb";
        case TargetKind::Network:
            break;
    }
    return "net:" + std::to_string(index);
}

bool hasCpuRow(const std::vector<ControllerRow>& rows) {
    return !rows.empty() && (rows.front().type == kCpuMatrix || rows.front().type == kCpuModular);
}

std::string fileInfoOf(const std::string& path, RowKind kind) {
    if (kind != RowKind::PicCard) return "";
    const FileCheck check = CheckFile(path);
    if (!check.result.ok()) return "";
    std::string info = check.controllerType;
    if (!check.hardware.empty()) info += (info.empty() ? "" : " ") + check.hardware;
    return info;
}

std::string rowStatus(const FleetRow& row) {
    const std::string versions =
        row.to.empty() ? ""
                       : "  " + (row.now.empty() ? std::string("-") : row.now) + " -> " + row.to;
    switch (row.state) {
        case RowState::Ok:
            return "OK" + versions;
        case RowState::NotAttempted:
            return "NOT DONE";
        case RowState::Skipped:
            return "SKIPPED: " + row.reason;
        case RowState::Failed:
        case RowState::Interrupted:
            break;
    }
    return (row.state == RowState::Interrupted ? "INTERRUPTED" : "FAILED") +
           (row.reason.empty() ? std::string() : ": " + row.reason) + versions;
}

RunRequest requestOf(const PlanDevice& device) {
    RunRequest request;
    request.rows = device.files;
    request.force = device.force;
    request.verify = device.verify;
    return request;
}

// "same" / "differs" between the file name's version and the device's; empty when the
// name carries none.
std::string matchOf(const std::string& fileVersion, const std::string& now) {
    if (fileVersion.empty()) return "";
    return SameVersion(fileVersion, now) ? "same" : "differs";
}

// The wait for a device's discovery answer: its own, the command line's, the plan's, the
// sessions' default.
milliseconds discoveryWaitOf(const FleetPlan& plan, const PlanDevice& device,
                             const FleetOptions& options) {
    if (device.discoveryWait) return *device.discoveryWait;
    if (options.discoveryWait) return *options.discoveryWait;
    return plan.discoveryWait.value_or(options.session.discoveryWait);
}

// Runs one device start to end on the calling thread.
void runDevice(const FleetPlan& plan, const PlanDevice& device, const FleetOptions& options,
               FleetDeviceResult& out) {
    const auto start = Steady::now();
    SessionOptions session = options.session;
    session.discoveryWait = discoveryWaitOf(plan, device, options);
    session.deviceName = LogNameFor(device.name);
    session.quickBootload = device.quick;
    for (const auto& [question, answer] : device.answers) session.answers[question] = answer;
    const std::string name = device.name;
    if (options.onProgress) {
        auto report = options.onProgress;
        session.onProgress = [report, name](const RowProgress& event) { report(name, event); };
    }
    DeviceSession engine(std::move(session));
    out.started = true;
    if (options.interrupts) {
        options.interrupts->attach(engine);
        // Ctrl-C that came between the scheduler's look and the attach.
        if (options.interrupts->fired()) engine.requestInterrupt();
    }
    struct Detach {
        InterruptHub* hub;
        DeviceSession& session;
        ~Detach() {
            if (hub) hub->detach(session);
        }
    } detach{options.interrupts, engine};

    auto finish = [&](const SessionResult& result, const SessionResult& closed) {
        out.result = result;
        out.status = StatusOf(result.error);
        // A device that could not be returned to normal operation is not done with.
        if (!closed.ok()) {
            out.status = Worst(out.status, StatusOf(closed.error));
            if (out.result.ok()) out.result = closed;
        }
        out.logPath = engine.logPath();
        out.duration = std::chrono::duration_cast<milliseconds>(Steady::now() - start);
    };

    UpgradeRun run(engine, device.target, device.as, requestOf(device));
    const auto connectStart = Steady::now();
    SessionResult prepared = run.prepare();
    const auto connectTime = std::chrono::duration_cast<milliseconds>(Steady::now() - connectStart);
    if (!prepared.ok()) {
        // A plan that names a row the device does not have is not run on it at all: a
        // partial upgrade would leave rows the operator meant to change.
        if (prepared.message.empty()) prepared.message = "a row cannot be chosen";
        return finish(prepared, engine.close());
    }
    std::vector<ControllerRow> rows = engine.rows();
    for (const RowDecision& decision : run.decisions()) {
        FleetRow line;
        line.row = decision.row;
        line.type = decision.type;
        line.now = decision.from;
        line.file = decision.path;
        line.fileVersion = VersionInFileName(decision.path);
        line.expected = decision.expected;
        line.skip = decision.skip;
        const RowKind kind = RowKindOf(decision.type, device.target.kind);
        line.fileInfo = fileInfoOf(decision.path, kind);
        line.estimate = EstimateRow(kind, decision.type, MeasureFile(decision.path, kind),
                                    device.quick, device.target.kind);
        if (!line.skip) out.estimate += line.estimate.total();
        out.rows.push_back(std::move(line));
    }
    std::sort(out.rows.begin(), out.rows.end(),
              [](const FleetRow& a, const FleetRow& b) { return a.row < b.row; });
    out.wouldChange = run.flashes();
    if (out.wouldChange) out.estimate += EstimateRestore(device.target.kind, hasCpuRow(rows));

    if (options.dryRun) {
        const auto closeStart = Steady::now();
        finish({}, engine.close());
        // The read-back after the run is one more connect, inventory and close: what
        // this dry run's own took.
        if (out.wouldChange && requestOf(device).readsBack()) {
            out.estimate +=
                connectTime + std::chrono::duration_cast<milliseconds>(Steady::now() - closeStart);
        }
        return;
    }

    SessionResult closed;
    out.outcome = run.finish(closed);
    out.changed = out.outcome.changed;
    for (const RowResult& ended : out.outcome.run.rows) {
        for (FleetRow& row : out.rows) {
            if (row.row != ended.row) continue;
            row.state = ended.state;
            row.reason = ended.reason;
            row.to = ended.to;
        }
    }
    finish(out.outcome.result, closed);
    if (const SessionResult kept = engine.appendHistory(out.outcome); !kept.ok())
        out.historyError = kept.message;
    out.status = Worst(out.status, out.outcome.status());
    if (out.outcome.interrupted) out.status = ExitStatus::Interrupted;
}

}  // namespace

std::string LogNameFor(const std::string& name) {
    std::string safe;
    for (char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        safe += plain ? c : '_';
    }
    // A name of dots only would name a folder.
    if (safe.find_first_not_of('.') == std::string::npos) safe = "device" + safe;
    return safe;
}

FleetResult RunFleet(const FleetPlan& plan, const FleetOptions& options) {
    FleetResult result;
    result.dryRun = options.dryRun;
    const auto start = Steady::now();
    const std::size_t count = plan.devices.size();
    result.devices.resize(count);
    std::vector<std::string> lanes(count);
    for (std::size_t i = 0; i < count; ++i) {
        result.devices[i].name = plan.devices[i].name;
        result.devices[i].target = plan.devices[i].target;
        lanes[i] = laneOf(plan.devices[i].target, i);
    }
    int parallel = options.parallel > 0 ? options.parallel : plan.parallel;
    if (parallel <= 0) parallel = static_cast<int>(count);
    const auto workers = static_cast<std::size_t>(std::min<int>(parallel, static_cast<int>(count)));

    std::mutex mutex;
    std::condition_variable laneFreed;
    std::vector<bool> taken(count, false);
    std::set<std::string> busy;
    auto interrupted = [&] { return options.interrupts && options.interrupts->fired(); };

    auto worker = [&] {
        for (;;) {
            std::size_t next = count;
            {
                std::unique_lock lock(mutex);
                for (;;) {
                    bool pending = false;
                    for (std::size_t i = 0; i < count && next == count; ++i) {
                        if (taken[i]) continue;
                        pending = true;
                        if (!busy.count(lanes[i])) next = i;
                    }
                    if (next != count || !pending) break;
                    laneFreed.wait(lock);
                }
                if (next == count) return;
                taken[next] = true;
                busy.insert(lanes[next]);
            }
            FleetDeviceResult& out = result.devices[next];
            if (interrupted()) {
                out.status = ExitStatus::Interrupted;
                out.result = {SessionError::Interrupted, "interrupted before it started"};
            } else {
                try {
                    runDevice(plan, plan.devices[next], options, out);
                } catch (const std::exception& e) {
                    // One device's trouble stays with that device.
                    out.status = ExitStatus::RowFailed;
                    out.result = {SessionError::Failed, e.what()};
                }
            }
            {
                std::lock_guard lock(mutex);
                busy.erase(lanes[next]);
            }
            laneFreed.notify_all();
        }
    };
    std::vector<std::thread> threads;
    threads.reserve(workers);
    for (std::size_t i = 0; i < workers; ++i) threads.emplace_back(worker);
    for (std::thread& thread : threads) thread.join();

    result.status = ExitStatus::Ok;
    for (const FleetDeviceResult& device : result.devices)
        result.status = Worst(result.status, device.status);
    result.duration = std::chrono::duration_cast<milliseconds>(Steady::now() - start);
    return result;
}

std::string FleetResult::verdict() const {
    if (dryRun)
        return status == ExitStatus::Ok ? "Dry run: every device reached" : "Dry run FAILED";
    switch (status) {
        case ExitStatus::Ok:
            return "Fleet upgrade successful";
        case ExitStatus::Interrupted:
            return "Fleet upgrade INTERRUPTED";
        default:
            return "Fleet upgrade FAILED";
    }
}

std::vector<std::string> FleetReportLines(const FleetResult& result) {
    std::vector<std::string> lines;
    std::size_t width = 0;
    for (const auto& device : result.devices) width = std::max(width, device.name.size());
    auto pad = [width](const std::string& text) {
        return text + std::string(width > text.size() ? width - text.size() : 0, ' ');
    };
    std::size_t ok = 0;
    for (const FleetDeviceResult& device : result.devices) {
        if (device.status == ExitStatus::Ok) ++ok;
        if (!device.result.ok()) {
            lines.push_back(pad(device.name) + "  " + std::string(ExitStatusName(device.status)) +
                            ": " + device.result.message);
        }
        for (const FleetRow& row : device.rows) {
            std::string line =
                pad(device.name) + "  row " + std::to_string(row.row) + " " + row.type + "  ";
            if (result.dryRun) {
                const std::string match = matchOf(row.fileVersion, row.now);
                line += "now " + (row.now.empty() ? std::string("-") : row.now) + ", file " +
                        (row.fileVersion.empty() ? std::string("-") : row.fileVersion) +
                        (match.empty() ? "" : " " + match);
                if (!row.fileInfo.empty()) line += " (" + row.fileInfo + ")";
                if (!row.expected.empty()) line += ", expected " + row.expected;
                line += row.skip ? ", skip: " + AlreadyAtReason(row.now)
                                 : ", about " + FormatDuration(row.estimate.total());
            } else {
                line += rowStatus(row);
            }
            lines.push_back(line);
        }
        if (result.dryRun && device.result.ok()) {
            lines.push_back(pad(device.name) + (device.wouldChange
                                                    ? "  about " + FormatDuration(device.estimate) +
                                                          " with the restore"
                                                    : "  unchanged: every row at its version"));
        }
    }
    std::string tail = result.verdict() + ": " + std::to_string(ok) + " of " +
                       std::to_string(result.devices.size()) + " devices " +
                       (result.dryRun ? "reached" : "upgraded") + " in " +
                       FormatDuration(result.duration);
    if (result.dryRun) {
        milliseconds longest{0};
        for (const auto& device : result.devices) longest = std::max(longest, device.estimate);
        tail += "; the longest device takes about " + FormatDuration(longest);
    }
    lines.push_back(tail);
    return lines;
}

Json FleetJson(const FleetResult& result) {
    auto seconds = [](milliseconds ms) { return static_cast<double>(ms.count()) / 1000.0; };
    Json document;
    document["status"] = std::string(ExitStatusName(result.status));
    document["exit"] = ToInt(result.status);
    document["verdict"] = result.verdict();
    document["dry_run"] = result.dryRun;
    document["seconds"] = seconds(result.duration);
    Json devices = Json::array();
    for (const FleetDeviceResult& device : result.devices) {
        Json entry;
        entry["name"] = device.name;
        entry["target"] = device.target.text;
        entry["status"] = std::string(ExitStatusName(device.status));
        entry["exit"] = ToInt(device.status);
        entry["error"] = ErrorJson(device.result);
        entry["seconds"] = seconds(device.duration);
        entry["estimate_seconds"] = seconds(device.estimate);
        entry["log"] = TextOrNull(device.logPath);
        Json rows = Json::array();
        for (const FleetRow& row : device.rows) {
            Json r;
            r["row"] = row.row;
            r["type"] = row.type;
            r["now"] = TextOrNull(row.now);
            r["file"] = row.file;
            r["file_version"] = TextOrNull(row.fileVersion);
            r["file_info"] = TextOrNull(row.fileInfo);
            r["estimate_seconds"] = seconds(row.estimate.total());
            r["from"] = TextOrNull(row.now);
            r["expected"] = TextOrNull(row.expected);
            if (result.dryRun) {
                r["action"] = row.skip ? "skip" : "flash";
                r["match"] = TextOrNull(matchOf(row.fileVersion, row.now));
            } else {
                r["state"] = std::string(RowStateName(row.state));
                r["reason"] = TextOrNull(row.reason);
                r["to"] = TextOrNull(row.to);
            }
            rows.push_back(std::move(r));
        }
        entry["rows"] = std::move(rows);
        if (result.dryRun) {
            entry["would_change"] = device.wouldChange;
        } else {
            entry["changed"] = device.changed;
        }
        if (!result.dryRun && device.started && !device.outcome.run.rows.empty())
            entry["upgrade"] = ToJson(device.outcome);
        devices.push_back(std::move(entry));
    }
    document["devices"] = std::move(devices);
    return document;
}

}  // namespace kv::cli
