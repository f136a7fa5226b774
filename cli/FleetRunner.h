#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/DeviceSession.h"
#include "cli/ExitStatus.h"
#include "cli/FleetPlan.h"
#include "cli/Json.h"

namespace kv::cli {

// One chosen row of a device, as the dry run shows it and the report ends it.
struct FleetRow {
    int row = -1;
    std::string type;
    std::string now;          // the row's firmware version before the run
    std::string file;         // the chosen file
    std::string fileVersion;  // from the file name, empty when it names none
    std::string fileInfo;     // HEX: the type and hardware the file carries
    RowEstimate estimate;
    // How the upgrade ended it, and why when not Ok.
    RowState state = RowState::NotAttempted;
    std::string reason;
    std::string expected;  // the version the row must run afterwards, device form
    bool skip = false;     // already at its expected version: not flashed
    std::string to;        // the version read back after the run; empty: not read
};

struct FleetDeviceResult {
    std::string name;
    Target target;
    ExitStatus status = ExitStatus::Ok;
    SessionResult result;  // why the device was not (fully) upgraded
    std::vector<FleetRow> rows;
    UpgradeOutcome outcome;    // empty for a dry run or a device never upgraded
    bool started = false;      // an engine was started for it (not: cut off by Ctrl-C first)
    bool changed = false;      // the run may have written to the device
    bool wouldChange = false;  // dry run: some row would be flashed
    std::chrono::milliseconds estimate{0};  // rows and restore
    std::chrono::milliseconds duration{0};
    std::string logPath;
    std::string historyError;  // why the run's history record could not be written
};

struct FleetResult {
    std::vector<FleetDeviceResult> devices;  // in plan order
    ExitStatus status = ExitStatus::Ok;
    bool dryRun = false;
    std::chrono::milliseconds duration{0};
    std::string verdict() const;
};

struct FleetOptions {
    // At most this many devices at once; 0: every network device at once. Serial devices
    // on one port and USB devices always go one at a time.
    int parallel = 0;
    bool dryRun = false;
    // For every session (log folder, clock, discovery wait); deviceName, quickBootload,
    // answers and onProgress are set per device.
    SessionOptions session;
    // Called on each device's engine thread.
    std::function<void(const std::string& device, const RowProgress&)> onProgress;
    // Sessions are attached while they run, so Ctrl-C reaches each of them. Optional.
    InterruptHub* interrupts = nullptr;
    // kvboot plan --discovery-wait: replaces the plan's top-level "discovery_wait"; a
    // device's own "discovery_wait" still wins.
    std::optional<std::chrono::milliseconds> discoveryWait;
};

// Runs the plan: each device on its own thread with its own session; one device's failure
// never stops another. Devices not started when an interrupt came are reported as
// interrupted.
FleetResult RunFleet(const FleetPlan& plan, const FleetOptions& options);

// The fleet report: one line per device and row, then the verdict.
std::vector<std::string> FleetReportLines(const FleetResult& result);
// {"status", "exit", "verdict", "dry_run", "seconds", "estimate_seconds", "devices": [...]}
Json FleetJson(const FleetResult& result);

// A device name fit for a file name ("stage left/1" -> "stage_left_1").
std::string LogNameFor(const std::string& name);

// `kvboot plan FILE.json [--parallel N] [--dry-run] [--json]`.
Subcommand PlanCommand();

}  // namespace kv::cli
