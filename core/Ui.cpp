#include "core/Ui.h"

#include <algorithm>

namespace kv {

std::optional<MsgButton> focusedButton(const std::vector<MsgButton>& buttons, int defaultIndex) {
    if (defaultIndex < 0 || defaultIndex > static_cast<int>(MsgButton::Help)) return std::nullopt;
    auto wanted = static_cast<MsgButton>(defaultIndex);
    if (std::find(buttons.begin(), buttons.end(), wanted) == buttons.end()) return std::nullopt;
    return wanted;
}

}  // namespace kv
