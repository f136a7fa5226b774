#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace kv {

// Every fixed wait of every procedure goes through the clock, so tests can run the
// waits on virtual time.
class Clock {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;
    virtual ~Clock() = default;
    virtual TimePoint now() = 0;
    virtual void sleep(std::chrono::milliseconds duration) = 0;
    // Current local date and time in the system's short date and long time format.
    virtual std::string localTimestamp() = 0;
};

// A moment in seconds since the epoch as strftime writes it with `format`, in local time
// or in UTC.
enum class TimeZone { Local, Utc };
std::string FormatTime(std::int64_t secondsSinceEpoch, const char* format, TimeZone zone);

// Real time: the steady clock and a thread sleep.
class SteadyClock : public Clock {
  public:
    TimePoint now() override;
    void sleep(std::chrono::milliseconds duration) override;
    std::string localTimestamp() override;
};

}  // namespace kv
