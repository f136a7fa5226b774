#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "PlatformPorts.h"
#include "ScriptedUi.h"
#include "core/Clock.h"
#include "core/Context.h"
#include "core/LogFile.h"
#include "core/SharedState.h"

namespace kv::test {

// The program's real channels and real time, with a scripted operator and a log file in
// a fresh temporary folder.
class RealRig {
  public:
    RealRig();
    ~RealRig();

    // How many lines of the log file hold `text`.
    std::size_t logLinesWith(const std::string& text) const;

    SharedState state;
    LogFile log;
    ScriptedUi ui;
    SteadyClock clock;
    PlatformPorts platform;
    Context ctx{state, log, ui, clock, platform.ports()};
    std::filesystem::path folder;
    std::vector<std::string> warnings;  // what the channels tolerated
};

}  // namespace kv::test
