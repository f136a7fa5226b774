#include "flash/PicDeviceRules.h"

namespace kv {

namespace {

struct ControllerRule {
    std::string_view controllerType;
    PicEraseRange erase;
    int progressDivisor;
};

// The fibre receiver's image is 14 KiB, so its progress runs against that size.
constexpr ControllerRule kRules[] = {
    {kFibreReceiverCard, {0x400, 0x0800, 0x3BFF}, 163},
    {kFibreSenderCard, {0x400, 0x0800, 0x1FBC0}, 1310},
};
constexpr ControllerRule kDefaultRule{{}, {0x40, 0x0800, 0x1FFC0}, 1310};

const ControllerRule& ruleFor(std::string_view controllerType) {
    for (const auto& rule : kRules) {
        if (rule.controllerType == controllerType) return rule;
    }
    return kDefaultRule;
}

}  // namespace

PicEraseRange PicEraseRangeFor(std::string_view controllerType) {
    return ruleFor(controllerType).erase;
}

bool PicIsFibreCard(std::string_view controllerType) {
    return controllerType == kFibreReceiverCard || controllerType == kFibreSenderCard;
}

int PicProgressDivisor(std::string_view controllerType) {
    return ruleFor(controllerType).progressDivisor;
}

}  // namespace kv
