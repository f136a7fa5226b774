#include <filesystem>
#include <fstream>

#include "cli/ConsoleUi.h"
#include "cli/DeviceSession.h"
#include "core/Clock.h"
#include "core/Context.h"
#include "core/LogFile.h"
#include "core/SharedState.h"
#include "firmware/HexFile.h"

namespace kv::cli {

FileCheck CheckFile(const std::string& path) {
    FileCheck check;
    std::error_code ec;
    std::ifstream in(path, std::ios::binary);
    if (!std::filesystem::is_regular_file(path, ec) || !in) {
        check.result = {SessionError::BadInput, "cannot read the file " + path};
        return check;
    }
    // The reader's own checks on a context of their own: no channels, no log file.
    SharedState state;
    LogFile log;
    ConsoleUi ui;
    SteadyClock clock;
    Ports ports;
    Context ctx(state, log, ui, clock, ports);
    std::string memo;
    ui.setMemoSink([&memo](const std::string& line) { memo = line; });
    HexReaderState reader;

    check.checksumOk = CheckHexFile(ctx, reader, in);
    if (!check.checksumOk) {
        check.fault = memo.rfind("-> ", 0) == 0 ? memo.substr(3) : memo;
        return check;
    }
    in.clear();
    in.seekg(0);
    if (ProcessHexFile(ctx, reader, kHexInformationScan, in) != 0) {
        check.checksumOk = false;
        const auto messages = ui.messages();
        check.fault = messages.empty() ? "bad record" : messages.back();
        return check;
    }
    check.controllerType = state.HexControllerType;
    check.hardware = state.HexHardwareInfo;
    in.clear();
    in.seekg(0);
    ProcessHexFile(ctx, reader, kHexProgrammingPass, in, [&check](const HexDataRecord& record) {
        check.dataBytes += record.data.size();
        ++check.records;
    });
    return check;
}

}  // namespace kv::cli
