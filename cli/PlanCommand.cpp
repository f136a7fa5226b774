// kvboot plan: a fleet of devices upgraded from one plan file.
#include <memory>

#include <CLI/CLI.hpp>

#include "cli/FleetRunner.h"

namespace kv::cli {

namespace {

struct PlanArguments {
    std::string file;
    int parallel = 0;
    bool dryRun = false;
    bool json = false;
    double discoveryWait = 0;  // 0: not given
};

int runPlan(const PlanArguments& arguments, Runtime& runtime) {
    Console& console = runtime.console;
    FleetPlan plan;
    try {
        plan = LoadPlan(arguments.file);
    } catch (const PlanError& e) {
        return Refuse(console, arguments.json, ExitStatus::Usage,
                      {SessionError::BadInput, std::string("plan: ") + e.what()});
    }
    FleetOptions options;
    options.parallel = arguments.parallel;
    options.dryRun = arguments.dryRun;
    options.session.platformDataFolder = console.platformDataFolder;
    options.interrupts = &runtime.interrupts;
    if (arguments.discoveryWait > 0) {
        options.discoveryWait =
            std::chrono::milliseconds(static_cast<std::int64_t>(arguments.discoveryWait * 1000));
    }
    if (console.progress) {
        options.onProgress = [&console](const std::string& device, const RowProgress& event) {
            console.showProgress(device, event);
        };
    }
    const FleetResult result = RunFleet(plan, options);
    if (console.progress) console.endProgress();
    for (const FleetDeviceResult& device : result.devices) {
        if (!device.historyError.empty())
            console.err << "kvboot: " << device.name << ": " << device.historyError << "\n";
    }
    if (arguments.json) {
        console.out << Dump(FleetJson(result)) << std::endl;
    } else {
        for (const std::string& line : FleetReportLines(result)) console.out << line << "\n";
        console.out.flush();
    }
    return ToInt(result.status);
}

}  // namespace

Subcommand PlanCommand() {
    return {"plan", [](CLI::App& app, Runtime& runtime) -> std::function<int()> {
                auto arguments = std::make_shared<PlanArguments>();
                CLI::App* command = app.add_subcommand(
                    "plan",
                    "Upgrade a fleet of devices from a JSON plan, several at once. Each device "
                    "runs on its own engine with its own log file (logfile-<name>.txt); one "
                    "device's failure never stops another. Prints one line per device and "
                    "row, then the verdict. Exit status: 0 every row OK, 1 a row failed, 2 a "
                    "bad plan, 3 a device not reached, 4 interrupted (Ctrl-C).");
                command->add_option("FILE", arguments->file, "the plan (JSON, see kvboot(1))")
                    ->required();
                command
                    ->add_option("--parallel", arguments->parallel,
                                 "at most N devices at once (default: every network device "
                                 "at once; serial devices one per port)")
                    ->check(CLI::Range(1, 1000));
                command->add_flag("--dry-run", arguments->dryRun,
                                  "connect and print each row's version now, the file's "
                                  "version and the estimated time; writes nothing");
                command
                    ->add_option("--discovery-wait", arguments->discoveryWait,
                                 "seconds to wait for each module's discovery answer "
                                 "(default 3; replaces the plan's \"discovery_wait\", a "
                                 "device's own still wins)")
                    ->check(CLI::Range(kMinDiscoveryWaitSeconds, kMaxDiscoveryWaitSeconds));
                command->add_flag("--json", arguments->json,
                                  "print the fleet report as one JSON document");
                return [arguments, &runtime, command]() -> int {
                    if (!command->parsed()) return -1;
                    return runPlan(*arguments, runtime);
                };
            }};
}

}  // namespace kv::cli
