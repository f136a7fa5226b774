#include "firmware/HexFile.h"
#include <fstream>

#include <algorithm>
#include <exception>
#include <string>

#include "core/ports/ChannelError.h"
#include "firmware/HexRecord.h"

namespace kv {

namespace {

// Where a PIC image keeps its identification, each field at most 16 characters and ended by
// a zero byte when shorter.
constexpr std::uint32_t kControllerTypeAddress = 0x0600;
constexpr std::uint32_t kControllerTypeOverrideAddress = 0x0700;
constexpr std::uint32_t kHardwareInfoAddress = 0x0710;
constexpr std::size_t kInfoFieldLength = 16;
// An erased (never written) field.
constexpr std::uint8_t kErasedByte = 0xFF;

constexpr const char* kCannotOpen = "Cannot open file";
constexpr const char* kCannotRead = "Cannot read file";

// Class and upper address byte selected by the low byte of a type 4 value (the high byte
// does not take part): the PIC's configuration and data EEPROM images sit in their own
// address ranges of the file.
struct LinearAddressClass {
    int value;
    int memoryClass;
    std::uint8_t upper;
};
constexpr LinearAddressClass kLinearAddressClasses[] = {
    {0x20, kHexClassProgram, 0x20},
    {0x30, kHexClassConfig, 0x30},
    {0xF0, kHexClassEeprom, 0x00},
};

// The text of an identification field: the bytes from the field's start up to the first
// zero byte, the end of the field or the end of the record, whichever comes first.
std::string infoField(ByteView data, std::uint32_t recordAddress, std::uint32_t field) {
    std::size_t offset = field - recordAddress;
    auto begin = data.begin() + static_cast<std::ptrdiff_t>(offset);
    auto end = data.begin() +
               static_cast<std::ptrdiff_t>(std::min(data.size(), offset + kInfoFieldLength));
    return std::string(begin, std::find(begin, end, std::uint8_t{0}));
}

bool holds(ByteView data, std::uint32_t recordAddress, std::uint32_t field) {
    return field >= recordAddress && field < recordAddress + data.size();
}

// Length of the value an address record must carry: 2 bytes for the extended addresses, 4
// for the start addresses.
bool addressRecordWellFormed(const HexRecord& record) {
    switch (record.type) {
        case kHexExtendedSegmentAddress:
        case kHexExtendedLinearAddress:
            return record.count == 2;
        case kHexStartSegmentAddress:
        case kHexStartLinearAddress:
            return record.count == 4;
        default:
            return true;
    }
}

}  // namespace

HexIntegrity TestHexLines(std::istream& in) {
    HexIntegrity result;
    if (!in) {
        result.fault = HexFault{0, kCannotOpen};
        return result;
    }
    std::string line;
    while (ReadHexLine(in, line)) {
        ++result.lines;
        if (std::string failure = HexLineFault(line); !failure.empty()) {
            result.fault = HexFault{result.lines, std::move(failure)};
            return result;
        }
    }
    if (in.bad()) {
        result.fault = HexFault{result.lines, kCannotRead};
    } else if (result.lines == 0) {
        // An empty file would pass with nothing to program; it fails like an empty line.
        result.lines = 1;
        result.fault = HexFault{1, HexLineFault({})};
    }
    return result;
}

bool HexFileSound(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return in && TestHexLines(in).ok();
}

void ScanHexIdentification(const HexDataRecord& record, HexIdentification& into) {
    const std::uint32_t address = (static_cast<std::uint32_t>(record.upper) << 16) | record.address;
    if (address > 0xFFFF) return;
    const ByteView data = record.data;
    if (holds(data, address, kControllerTypeAddress)) {
        into.controllerType = infoField(data, address, kControllerTypeAddress);
    }
    if (holds(data, address, kControllerTypeOverrideAddress) &&
        data[kControllerTypeOverrideAddress - address] != kErasedByte) {
        into.controllerType = infoField(data, address, kControllerTypeOverrideAddress);
    }
    if (holds(data, address, kHardwareInfoAddress)) {
        into.hardwareInfo = infoField(data, address, kHardwareInfoAddress);
    }
}

std::optional<HexFault> WalkHexRecords(std::istream& in, HexReaderState& reader,
                                       const std::function<void()>& eachLine,
                                       const HexRecordHandler& onData) {
    // Base of the 16-bit address fields: upper address byte * 0x10000 after a type 4 record,
    // segment * 16 after a type 2 record.
    std::uint32_t base = 0;
    // Every walk starts as for a fresh file: records before the first extended linear
    // address record are program memory, whatever the previous pass ended with.
    reader.HexWriteCommand = kHexClassNone;
    if (!in) throw KvError(kCannotOpen);
    std::string line;
    HexRecord record;
    int lineNumber = 0;
    while (ReadHexLine(in, line)) {
        if (eachLine) eachLine();
        ++lineNumber;
        // A blank line (typically at the very end of a file) carries no record.
        if (line.empty()) continue;
        if (!DecodeHexRecord(line, record) || record.type > kHexStartLinearAddress ||
            !addressRecordWellFormed(record)) {
            std::string failure = HexLineFault(line);
            return HexFault{lineNumber, failure.empty() ? "Illegal address record" : failure};
        }
        switch (record.type) {
            case kHexEndOfFile:
                // Reading goes on to the physical end of the file.
                break;
            case kHexExtendedLinearAddress: {
                int value = record.data[1];
                reader.HexWriteCommand = kHexClassProgram;
                std::uint8_t upper = static_cast<std::uint8_t>(value);
                for (const auto& entry : kLinearAddressClasses) {
                    if (entry.value == value) {
                        reader.HexWriteCommand = entry.memoryClass;
                        upper = entry.upper;
                    }
                }
                base = static_cast<std::uint32_t>(upper) << 16;
                break;
            }
            case kHexExtendedSegmentAddress:
                base = static_cast<std::uint32_t>((record.data[0] << 8) | record.data[1]) << 4;
                break;
            case kHexStartSegmentAddress:
            case kHexStartLinearAddress:
                // An execution start address: nothing to store in memory.
                break;
            default: {
                const std::uint32_t full = base + record.address;
                if (onData) {
                    onData(HexDataRecord{
                        reader.HexWriteCommand, static_cast<std::uint8_t>(full >> 16),
                        static_cast<std::uint16_t>(full & 0xFFFF), ByteView(record.data)});
                }
                break;
            }
        }
    }
    if (in.bad()) throw KvError(kCannotRead);
    return std::nullopt;
}

std::uint64_t HexDataBytes(std::istream& in) {
    std::uint64_t bytes = 0;
    HexReaderState reader;
    try {
        WalkHexRecords(in, reader, {},
                       [&bytes](const HexDataRecord& record) { bytes += record.data.size(); });
    } catch (const std::exception&) {
        // Unreadable from some point on: what was read is counted.
    }
    return bytes;
}

int ProcessHexFile(Context& ctx, HexReaderState& reader, int pass, std::istream& in,
                   const HexRecordHandler& programRecord) {
    ctx.state.HexFileOpened = true;
    HexIdentification found;
    HexRecordHandler onData;
    if (pass == kHexInformationScan) {
        onData = [&found](const HexDataRecord& record) { ScanHexIdentification(record, found); };
    } else if (pass == kHexProgrammingPass) {
        onData = programRecord;
    }
    // A file without identification must not pass as the file scanned before it.
    auto keepIdentification = [&] {
        if (pass != kHexInformationScan) return;
        ctx.state.HexControllerType = found.controllerType;
        ctx.state.HexHardwareInfo = found.hardwareInfo;
    };
    try {
        const std::optional<HexFault> fault = WalkHexRecords(
            in, reader, [&ctx] { ctx.ProcessMessages(); }, onData);
        keepIdentification();
        if (fault) {
            ctx.message_box("Invalid checksum in record " + std::to_string(fault->line));
            return 1;
        }
    } catch (const std::exception& e) {
        keepIdentification();
        ctx.error_box(std::string("Error while processing:\r") + e.what());
    }
    return 0;
}

bool CheckHexFile(Context& ctx, HexReaderState& reader, std::istream& in) {
    const HexIntegrity integrity = TestHexLines(in);
    reader.HexLineCount = integrity.lines;
    if (integrity.ok()) {
        ctx.log_and_show("-> HEX file integrity has verified");
        return true;
    }
    ctx.log_and_show("-> Line " + std::to_string(integrity.fault->line) + ": " +
                     integrity.fault->failure);
    return false;
}

}  // namespace kv
