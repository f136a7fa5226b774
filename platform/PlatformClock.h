#pragma once

#include "core/Clock.h"

namespace kv {

// Real time with the local date and time written the way the system's locale does.
class PlatformClock : public SteadyClock {
  public:
    std::string localTimestamp() override;
};

}  // namespace kv
