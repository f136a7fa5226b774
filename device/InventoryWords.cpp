#include "device/InventoryWords.h"

#include "core/ports/ChannelError.h"
#include "firmware/Util.h"

namespace kv {

namespace {

constexpr std::size_t kFieldCount = 4;
const std::string kHardwareMarker = "HW:";

[[noreturn]] void incomplete(const std::string& reply) {
    if (reply.empty()) throw KvError("The card reply is empty");
    throw KvError("The card reply has too few words: " + reply);
}

}  // namespace

std::vector<std::string> SplitReplyWords(const std::string& reply) {
    return SplitDelimited(' ', reply);
}

TControllerRec ControllerFromFixedWords(const std::string& reply) {
    const std::vector<std::string> words = SplitReplyWords(reply);
    if (words.size() < kFieldCount) incomplete(reply);
    TControllerRec rec;
    rec.ControllerType = words[0];
    rec.HardwareVersion = words[1];
    rec.FirmwareVersion = words[2];
    rec.BootloaderVersion = words[3];
    return rec;
}

TControllerRec ControllerFromHwAnchoredWords(const std::string& reply) {
    const std::vector<std::string> words = SplitReplyWords(reply);
    std::size_t h = 1;
    for (std::size_t i = 0; i < words.size(); ++i)
        if (words[i].find(kHardwareMarker) != std::string::npos) h = i;
    if (words.empty()) incomplete(reply);
    if (h == 0) throw KvError("The card reply names no type before \"HW:\": " + reply);
    if (words.size() < h + 3) incomplete(reply);
    TControllerRec rec;
    for (std::size_t i = 0; i < h; ++i) rec.ControllerType += (i ? " " : "") + words[i];
    rec.HardwareVersion = words[h];
    rec.FirmwareVersion = words[h + 1];
    rec.BootloaderVersion = words[h + 2];
    return rec;
}

}  // namespace kv
