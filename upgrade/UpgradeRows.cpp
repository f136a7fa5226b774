#include "UpgradeRows.h"

#include <fstream>

#include "firmware/HexFile.h"

namespace kv {

bool AnySelected(const std::vector<TControllerRec>& rows) {
    for (const auto& row : rows)
        if (row.Selected) return true;
    return false;
}

void EndWithoutRun(Context& ctx, RunResult& result, RunEnd end, const std::string& text) {
    result.end = end;
    result.refusal = text;
    ctx.message_box(text);
}

bool IsTwistedPairTransmitter(const std::string& controllerType) {
    return controllerType.find("NRV-TW-SN") != std::string::npos ||
           controllerType.find("NRV-FK-TW-SN") != std::string::npos;
}

bool RowChecksFileIdentity(const std::string& controllerType) {
    return controllerType != kCpuMatrix && controllerType != kCpuModular &&
           !IsTwistedPairTransmitter(controllerType);
}

bool ControllerTypeFits(const std::string& fileType, const std::string& rowType) {
    return fileType == rowType ||
           (!rowType.empty() && fileType == rowType.substr(0, rowType.size() - 1));
}

bool HardwareFits(const std::string& fileHardware, const std::string& rowHardware) {
    return fileHardware == rowHardware || fileHardware.substr(0, 5) == rowHardware.substr(0, 5);
}

bool ConfirmUpgrade(Context& ctx) {
    return ctx.ask(QuestionId::ConfirmUpgrade, kConfirmUpgradeQuestion, DialogKind::Confirmation,
                   {MsgButton::Yes, MsgButton::Cancel},
                   static_cast<int>(MsgButton::Cancel)) == MsgButton::Yes;
}

void ClearRow(Context& ctx, std::size_t row) {
    if (auto* rows = ctx.state.selectedControllers(); rows && row < rows->size()) {
        (*rows)[row].Selected = false;
        (*rows)[row].FirmwareFile.clear();
    }
    if (row < ctx.state.gridCells.size()) ctx.state.gridCells[row][4].clear();
    ctx.showControllerGrid();
}

std::string ImageMissingRefusal(const std::string& path) {
    return "Upgrade failed: Cannot open file \"" + FileNameOf(path) + "\"\n\r";
}

std::string FileNameOf(const std::string& path) {
    auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool CheckHexFileAt(Context& ctx, HexReaderState& reader, const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return CheckHexFile(ctx, reader, in);
}

bool ScanHexFileAt(Context& ctx, HexReaderState& reader, const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const bool opened = static_cast<bool>(in);
    return ProcessHexFile(ctx, reader, kHexInformationScan, in) != 0 || !opened;
}

FileStamp StampOf(const std::string& path) {
    FileStamp stamp;
    std::error_code error;
    stamp.size = std::filesystem::file_size(path, error);
    if (error) return FileStamp{};
    stamp.written = std::filesystem::last_write_time(path, error);
    if (error) return FileStamp{};
    stamp.exists = true;
    return stamp;
}

bool FileUnchanged(Context& ctx, const std::string& path, const FileStamp& stamp) {
    if (StampOf(path) == stamp) return true;
    const std::string text = "The file " + FileNameOf(path) + " changed while the upgrade ran";
    ctx.log_and_show(text);
    ctx.fail_row(text);
    return false;
}

}  // namespace kv
