#pragma once

#include <chrono>

#include "core/Clock.h"

namespace kv::test {

// Virtual time: sleep() and every silent wait of a fake channel advance it at once.
class VirtualClock : public Clock {
  public:
    TimePoint now() override { return TimePoint{} + elapsed_; }
    void sleep(std::chrono::milliseconds duration) override { elapsed_ += duration; }
    std::string localTimestamp() override { return "09.12.2026 10:00:00"; }

    void advance(std::chrono::milliseconds duration) { elapsed_ += duration; }
    std::chrono::milliseconds elapsed() const { return elapsed_; }

  private:
    std::chrono::milliseconds elapsed_{0};
};

}  // namespace kv::test
