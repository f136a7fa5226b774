#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "core/Context.h"
#include "core/RunResult.h"
#include "firmware/HexReaderState.h"

namespace kv {

// CPU card types: an STM32 programmed through the chip's own bootloader.
inline constexpr const char* kCpuMatrix = "RV-CTL2";
inline constexpr const char* kCpuModular = "NRV-CTL";

inline constexpr const char* kNoControllerSelected = "No controller selected to upgrade!";
inline constexpr const char* kWarningStart = "WARNING!\n\r";

bool AnySelected(const std::vector<TControllerRec>& rows);
// A run that ends before any row: its message box, and the result says why.
void EndWithoutRun(Context& ctx, RunResult& result, RunEnd end, const std::string& text);
// "Do you really want to upgrade?" with Cancel as the default; true on Yes.
bool ConfirmUpgrade(Context& ctx);
// An attempted row: not selected, no file, its check cell and file cell emptied.
void ClearRow(Context& ctx, std::size_t row);
std::string FileNameOf(const std::string& path);

// The HEX integrity check / information scan of a file by its path.
bool CheckHexFileAt(Context& ctx, HexReaderState& reader, const std::string& path);
// True when the scan found a bad record.
bool ScanHexFileAt(Context& ctx, HexReaderState& reader, const std::string& path);

// Size and last write time of a chosen file, taken when the run starts: a file that
// changes while the run reads it (cut short, rewritten, removed) was not programmed as the
// operator chose it, even when every record that was read went in well.
struct FileStamp {
    bool exists = false;
    std::uintmax_t size = 0;
    std::filesystem::file_time_type written{};
    bool operator==(const FileStamp&) const = default;
};
FileStamp StampOf(const std::string& path);
// True when the file is still as stamped; otherwise logs and shows that it changed, and
// fails the row.
bool FileUnchanged(Context& ctx, const std::string& path, const FileStamp& stamp);

}  // namespace kv
