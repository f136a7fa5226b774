#include "firmware/HexFile.h"

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
std::string infoField(const HexRecord& record, std::uint32_t recordAddress, std::uint32_t field) {
    std::size_t offset = field - recordAddress;
    auto begin = record.data.begin() + static_cast<std::ptrdiff_t>(offset);
    auto end = record.data.begin() +
               static_cast<std::ptrdiff_t>(std::min(record.data.size(), offset + kInfoFieldLength));
    return std::string(begin, std::find(begin, end, std::uint8_t{0}));
}

bool holds(const HexRecord& record, std::uint32_t recordAddress, std::uint32_t field) {
    return field >= recordAddress && field < recordAddress + record.data.size();
}

void scanInformation(Context& ctx, const HexRecord& record, std::uint32_t fullAddress) {
    if (fullAddress > 0xFFFF) return;
    if (holds(record, fullAddress, kControllerTypeAddress)) {
        ctx.state.HexControllerType = infoField(record, fullAddress, kControllerTypeAddress);
    }
    if (holds(record, fullAddress, kControllerTypeOverrideAddress) &&
        record.data[kControllerTypeOverrideAddress - fullAddress] != kErasedByte) {
        ctx.state.HexControllerType =
            infoField(record, fullAddress, kControllerTypeOverrideAddress);
    }
    if (holds(record, fullAddress, kHardwareInfoAddress)) {
        ctx.state.HexHardwareInfo = infoField(record, fullAddress, kHardwareInfoAddress);
    }
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

int ProcessHexFile(Context& ctx, HexReaderState& reader, int pass, std::istream& in,
                   const HexRecordHandler& programRecord) {
    ctx.state.HexFileOpened = true;
    int result = 0;
    // Base of the 16-bit address fields: upper address byte * 0x10000 after a type 4 record,
    // segment * 16 after a type 2 record.
    std::uint32_t base = 0;
    // Every pass starts as for a fresh file: records before the first extended linear
    // address record are program memory, whatever the previous pass ended with.
    reader.HexWriteCommand = kHexClassNone;
    if (pass == kHexInformationScan) {
        // A file without identification must not pass as the file scanned before it.
        ctx.state.HexControllerType.clear();
        ctx.state.HexHardwareInfo.clear();
    }
    try {
        if (!in) throw KvError(kCannotOpen);
        std::string line;
        HexRecord record;
        int lineNumber = 0;
        while (ReadHexLine(in, line)) {
            ctx.ProcessMessages();
            ++lineNumber;
            // A blank line (typically at the very end of a file) carries no record.
            if (line.empty()) continue;
            bool good = DecodeHexRecord(line, record) && record.type <= kHexStartLinearAddress &&
                        addressRecordWellFormed(record);
            if (!good) {
                result = 1;
                ctx.message_box("Invalid checksum in record " + std::to_string(lineNumber));
                break;
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
                    std::uint32_t full = base + record.address;
                    if (pass == kHexInformationScan) {
                        scanInformation(ctx, record, full);
                    } else if (pass == kHexProgrammingPass && programRecord) {
                        programRecord(HexDataRecord{
                            reader.HexWriteCommand, static_cast<std::uint8_t>(full >> 16),
                            static_cast<std::uint16_t>(full & 0xFFFF), ByteView(record.data)});
                    }
                    break;
                }
            }
        }
        if (in.bad()) throw KvError(kCannotRead);
    } catch (const std::exception& e) {
        ctx.error_box(std::string("Error while processing:\r") + e.what());
        return 0;
    }
    return result;
}

bool CheckHexFile(Context& ctx, HexReaderState& reader, std::istream& in) {
    reader.HexLineCount = 0;
    std::string fault;
    if (!in) {
        fault = kCannotOpen;
    } else {
        std::string line;
        while (fault.empty() && ReadHexLine(in, line)) {
            ++reader.HexLineCount;
            fault = HexLineFault(line);
        }
        if (fault.empty() && in.bad()) {
            fault = kCannotRead;
        } else if (fault.empty() && reader.HexLineCount == 0) {
            // An empty file would pass with nothing to program; it fails like an empty line.
            reader.HexLineCount = 1;
            fault = HexLineFault({});
        }
    }
    if (fault.empty()) {
        ctx.log_and_show("-> HEX file integrity has verified");
        return true;
    }
    ctx.log_and_show("-> Line " + std::to_string(reader.HexLineCount) + ": " + fault);
    return false;
}

}  // namespace kv
