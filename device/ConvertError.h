#pragma once

#include <string>

#include "core/ports/ChannelError.h"

namespace kv {

// A text that should have been a number was not.
class ConvertError : public KvError {
  public:
    explicit ConvertError(const std::string& text)
        : KvError("'" + text + "' is not a valid integer value") {}
    const char* className() const noexcept override { return "EConvertError"; }
};

}  // namespace kv
