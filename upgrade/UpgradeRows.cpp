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

bool ConfirmUpgrade(Context& ctx) {
    return ctx.ask(QuestionId::ConfirmUpgrade, "Do you really want to upgrade?", DialogKind::Confirmation,
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
    return ProcessHexFile(ctx, reader, kHexInformationScan, in) != 0;
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
