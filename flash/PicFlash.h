#pragma once

#include <chrono>
#include <cstdint>
#include <istream>

#include "core/Context.h"
#include "core/ports/Bytes.h"
#include "firmware/HexFile.h"
#include "firmware/HexReaderState.h"
#include "flash/PicState.h"

namespace kv {

// PIC bootloader flash operations ("Bootload"). `quickBootload` is the operator's "Quick
// Bootload (checksum verification only)" check box: it switches the read-back
// verification off. The rules that depend on the controller read the ControllerType of the
// selected device's first controller.

inline constexpr auto kPicRewritePause = std::chrono::milliseconds(100);
inline constexpr auto kPicEepromWritePause = std::chrono::milliseconds(50);
inline constexpr auto kPicEraseReconnectPause = std::chrono::milliseconds(200);

// Sends one write: command 2 writes a 16-byte program-memory block (the data padded with
// 0xFF), command 5 writes `count` data EEPROM bytes.
void PicWriteData(Context& ctx, PicState& pic, int command, ByteView data, int count,
                  std::int64_t address);

// Reads the 16 bytes at `address` into pic.PicReplyData (command 1).
void PicReadData(Context& ctx, PicState& pic, int command, std::int64_t address);

// Writes, and for program memory reads back and compares, rewriting once; a second mismatch
// raises "Program Write Error".
void PicWriteVerify(Context& ctx, PicState& pic, bool quickBootload, int command, ByteView data,
                    int count, std::int64_t address);

// PicWriteVerify inside the writable address window, skipping erased (all 0xFF) blocks.
void PicWriteFlash(Context& ctx, PicState& pic, bool quickBootload, int command, ByteView data,
                   int count, std::int64_t address);

// Erases program memory row by row from `first` to `last` inclusive, `step` bytes apart.
void PicErase(Context& ctx, PicState& pic, std::int64_t step, std::int64_t first,
              std::int64_t last);

// One data record of the programming pass: program memory (also when no memory class is
// known yet) and data EEPROM are written, configuration is not. Records longer than a block
// are written as consecutive 16-byte writes. Raises "Connection Lost Error" once the link is
// gone.
void PicProgramRecord(Context& ctx, PicState& pic, bool quickBootload, const HexDataRecord& record);

// The programming pass: ProcessHexFile pass 1 over the file, every record to PicProgramRecord.
int PicProgramHexFile(Context& ctx, PicState& pic, HexReaderState& reader, bool quickBootload,
                      std::istream& hexFile, std::uint64_t totalBytes = 0);

}  // namespace kv
