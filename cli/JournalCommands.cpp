// kvboot's run journal subcommands: recover and status.
#include <CLI/CLI.hpp>

#include "cli/Commands.h"
#include "cli/Json.h"

namespace kv::cli {

namespace {

SessionOptions JournalSessionOptions(Runtime& runtime, const std::string& name) {
    SessionOptions options;
    options.deviceName = name;
    options.platformDataFolder = runtime.console.platformDataFolder;
    return options;
}

}  // namespace

Subcommand RecoverCommand() {
    return {"recover", [](CLI::App& app, Runtime& runtime) -> std::function<int()> {
                auto* sub = app.add_subcommand(
                    "recover",
                    "Return the devices a run left switched over (kvboot or the window killed, "
                    "a power cut) to normal operation with the steps the end of a run takes, "
                    "as the next connect would; only devices with an open run journal entry "
                    "are touched");
                auto target = std::make_shared<std::string>();
                auto json = std::make_shared<bool>(false);
                sub->add_option("TARGET", *target,
                                "The device (address, serial port or usb:SERIAL); without it "
                                "every device with an open entry");
                sub->add_flag("--json", *json, "Print the result as one JSON document");
                sub->footer(
                    "Exit status: 0 every device restored (or none open), 2 bad TARGET, 3 a "
                    "device did not answer (its entry stays open).");
                return [sub, target, json, &runtime]() {
                    if (!sub->parsed()) return -1;
                    Console& console = runtime.console;
                    std::optional<Target> only;
                    if (!target->empty()) {
                        std::string why;
                        only = ParseTarget(*target, why);
                        if (!only)
                            return Refuse(console, *json, ExitStatus::Usage,
                                          {SessionError::BadInput, why});
                    }
                    DeviceSession session(JournalSessionOptions(runtime, "recover"));
                    const std::vector<ops::Recovery> done = session.recover(only);
                    session.close();
                    ExitStatus status = ExitStatus::Ok;
                    SessionResult error;
                    Json list = Json::array();
                    for (const ops::Recovery& recovery : done) {
                        console.err << recovery.message << "\n";
                        list.push_back(ToJson(recovery));
                        if (!recovery.restored) {
                            status = ExitStatus::Unreachable;
                            error = {SessionError::Unreachable, recovery.message};
                        }
                    }
                    if (*json) {
                        Json doc = FailureJson(status, error);
                        doc["recovered"] = list;
                        console.out << Dump(doc) << "\n";
                    } else if (done.empty()) {
                        console.out << "No open run journal entry"
                                    << (only ? " for " + only->address : std::string()) << "\n";
                    }
                    return ToInt(status);
                };
            }};
}

Subcommand StatusCommand() {
    return {"status", [](CLI::App& app, Runtime& runtime) -> std::function<int()> {
                auto* sub = app.add_subcommand(
                    "status",
                    "List the run journal's open entries: devices a run left switched over "
                    "(restored at their next connect or by kvboot recover) and, marked in use, "
                    "those a running program is upgrading now; touches no device");
                auto json = std::make_shared<bool>(false);
                sub->add_flag("--json", *json, "Print the result as one JSON document");
                return [sub, json, &runtime]() {
                    if (!sub->parsed()) return -1;
                    Console& console = runtime.console;
                    DeviceSession session(JournalSessionOptions(runtime, "status"));
                    const JournalListing listing = session.journal();
                    session.close();
                    if (*json) {
                        Json open = Json::array();
                        for (const JournalEntry& entry : listing.open) {
                            Json item = ToJson(entry);
                            item["in_use"] = false;
                            open.push_back(item);
                        }
                        for (const JournalEntry& entry : listing.inUse) {
                            Json item = ToJson(entry);
                            item["in_use"] = true;
                            open.push_back(item);
                        }
                        Json doc = FailureJson(ExitStatus::Ok, {});
                        doc["open"] = open;
                        console.out << Dump(doc) << "\n";
                        return ToInt(ExitStatus::Ok);
                    }
                    if (listing.open.empty() && listing.inUse.empty())
                        console.out << "No open run journal entry\n";
                    for (const JournalEntry& entry : listing.open)
                        console.out << ops::OpenEntryText(entry) << "\n";
                    for (const JournalEntry& entry : listing.inUse) {
                        console.out
                            << entry.device.id << ": in use by a running program"
                            << (entry.rowType.empty() ? "" : " (programming " + entry.rowType + ")")
                            << "\n";
                    }
                    return ToInt(ExitStatus::Ok);
                };
            }};
}

}  // namespace kv::cli
