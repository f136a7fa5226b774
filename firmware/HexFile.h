#pragma once

#include <cstdint>
#include <functional>
#include <istream>

#include "core/Context.h"
#include "core/ports/Bytes.h"
#include "firmware/HexReaderState.h"

namespace kv {

// Passes of ProcessHexFile.
inline constexpr int kHexProgrammingPass = 1;
inline constexpr int kHexInformationScan = 2;

// Memory classes, named after the PIC write command that programs them.
inline constexpr int kHexClassNone = 0;
inline constexpr int kHexClassProgram = 2;
inline constexpr int kHexClassEeprom = 5;
inline constexpr int kHexClassConfig = 7;

// One data record handed to the programming pass, in file order.
struct HexDataRecord {
    int memoryClass = kHexClassNone;  // HexWriteCommand when the record was read
    std::uint8_t upper = 0;           // upper address byte
    std::uint16_t address = 0;        // 16-bit address
    ByteView data;                    // valid during the call only
};
using HexRecordHandler = std::function<void(const HexDataRecord&)>;

// Walks a HEX file one line at a time (pumping messages once per line), testing each record.
// Pass 1 hands every data record to `programRecord`; pass 2 reads the controller type and
// hardware information into HexControllerType and HexHardwareInfo. The caller opens the file;
// a stream that failed to open is reported like any other error of the pass.
// Returns 1 when a record was bad ("Invalid checksum in record N" shown), else 0; any error
// raised while the pass runs is shown as "Error while processing:\r<message>".
int ProcessHexFile(Context& ctx, HexReaderState& reader, int pass, std::istream& in,
                   const HexRecordHandler& programRecord = {});

// Tests every line of a HEX file; logs and shows "-> HEX file integrity has verified" or
// "-> Line N: <failure>". Sets reader.HexLineCount to the lines read.
bool CheckHexFile(Context& ctx, HexReaderState& reader, std::istream& in);

}  // namespace kv
