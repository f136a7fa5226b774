#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <optional>
#include <string>

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

// The first fault the reader met in a file: its line (1-based; 0 when the file could not be
// opened) and the failure ("Checksum error", "Illegal record", "Cannot read file", ...).
struct HexFault {
    int line = 0;
    std::string failure;
};

// The integrity check of every line, showing nothing: the lines read (up to and including
// a faulty one) and the first fault. An empty file fails as an empty line would.
struct HexIntegrity {
    int lines = 0;
    std::optional<HexFault> fault;
    bool ok() const { return !fault; }
};
HexIntegrity TestHexLines(std::istream& in);
// TestHexLines over the file at `path`; a file that cannot be read is not sound.
bool HexFileSound(const std::string& path);
// An upgrade's refusal of a file that is not sound.
inline constexpr char kInvalidChecksumRefusal[] = "Upgrade failed: Invalid checksum\n\r";

// The identification a PIC image carries (empty when it carries none).
struct HexIdentification {
    std::string controllerType;
    std::string hardwareInfo;
};
// Takes the identification fields a data record holds into `into`.
void ScanHexIdentification(const HexDataRecord& record, HexIdentification& into);

// Reads the records of a HEX file in order, as both passes do: `eachLine` runs before every
// line, every data record goes to `onData` with the memory class and address the record
// selects. Returns the first line that is no sound record (the walk ends there), nullopt
// when every record was read. Throws KvError("Cannot open file" / "Cannot read file").
std::optional<HexFault> WalkHexRecords(std::istream& in, HexReaderState& reader,
                                       const std::function<void()>& eachLine,
                                       const HexRecordHandler& onData);

// Data bytes the programming pass hands out for this file (up to its first bad record): the
// measure of progress in bytes. Never throws; an unreadable file counts what was read.
std::uint64_t HexDataBytes(std::istream& in);

// Walks a HEX file one line at a time (pumping messages once per line), testing each record.
// Pass 1 hands every data record to `programRecord`; pass 2 reads the controller type and
// hardware information into HexControllerType and HexHardwareInfo. The caller opens the file;
// a stream that failed to open is reported like any other error of the pass.
// Returns 1 when a record was bad ("Invalid checksum in record N" shown), else 0; any error
// raised while the pass runs is shown as "Error while processing:\r<message>".
int ProcessHexFile(Context& ctx, HexReaderState& reader, int pass, std::istream& in,
                   const HexRecordHandler& programRecord = {});

// Tests every line of a HEX file; logs and shows "-> HEX file integrity has verified" or
// "-> Line N: <failure>" (TestHexLines' result). Sets reader.HexLineCount to the lines read.
bool CheckHexFile(Context& ctx, HexReaderState& reader, std::istream& in);

}  // namespace kv
