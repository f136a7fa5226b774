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
inline constexpr const char* kConfirmUpgradeQuestion = "Do you really want to upgrade?";

// A twisted-pair transmitter: its one row is an STM32 on the serial line, upgraded by the
// serial procedure.
bool IsTwistedPairTransmitter(const std::string& controllerType);
// Whether the upgrade holds a row's HEX file to the controller type and hardware the file
// names: the card rows. A CPU's or a transmitter's image names neither.
bool RowChecksFileIdentity(const std::string& controllerType);
// A file's controller type fits a row of `rowType` (the file may leave out the type's last
// character); its hardware fits the row's when the first five characters agree.
bool ControllerTypeFits(const std::string& fileType, const std::string& rowType);
bool HardwareFits(const std::string& fileHardware, const std::string& rowHardware);

bool AnySelected(const std::vector<TControllerRec>& rows);
// A run that ends before any row: its message box, and the result says why.
void EndWithoutRun(Context& ctx, RunResult& result, RunEnd end, const std::string& text);
// kConfirmUpgradeQuestion with Cancel as the default; true on Yes.
bool ConfirmUpgrade(Context& ctx);
// The refusal of a chosen image file that cannot be opened.
std::string ImageMissingRefusal(const std::string& path);
// An attempted row: not selected, no file, its check cell and file cell emptied.
void ClearRow(Context& ctx, std::size_t row);
std::string FileNameOf(const std::string& path);

// The HEX integrity check / information scan of a file by its path.
bool CheckHexFileAt(Context& ctx, HexReaderState& reader, const std::string& path);
// True when the scan found a bad record, or the file cannot be opened.
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
