#include "module/SetupRecord.h"

#include <stdexcept>

namespace kv {

namespace {
constexpr std::size_t kCommandByte1 = 1;
constexpr std::size_t kCodeByte = 3;
constexpr std::uint8_t kStoreCode = 0xFA;
constexpr std::size_t kInterfaceModeByte = 20;
constexpr std::size_t kBaudByte = 21;
constexpr std::size_t kByte38 = 38;
constexpr std::uint8_t kByte38Bits = 0x7F;
constexpr std::size_t kByte39 = 39;
}  // namespace

std::string_view NormalSettingOf(ByteView record) {
    if (record.size() != kSetupRecordSize) return {};
    for (const SerialSetting* setting : {&kSetup57600None, &kSetup9600None}) {
        if (record[kInterfaceModeByte] == setting->interfaceMode &&
            record[kBaudByte] == setting->baudCode) {
            return setting->name;
        }
    }
    return {};
}

const SerialSetting* NormalSettingNamed(std::string_view name) {
    for (const SerialSetting* setting : {&kSetup57600None, &kSetup9600None})
        if (setting->name == name) return setting;
    return nullptr;
}

Bytes ApplySerialSetting(ByteView record, const SerialSetting& setting) {
    if (record.size() != kSetupRecordSize) throw std::invalid_argument("set-up record size");
    Bytes out(record.begin(), record.end());
    out[kCommandByte1] = 0x00;
    out[kCodeByte] = kStoreCode;
    out[kInterfaceModeByte] = setting.interfaceMode;
    out[kBaudByte] = setting.baudCode;
    if (setting.setByte38) out[kByte38] |= kByte38Bits;
    out[kByte39] = setting.byte39;
    return out;
}

}  // namespace kv
