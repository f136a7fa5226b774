#include "core/Clock.h"

#include <ctime>
#include <thread>

namespace kv {

Clock::TimePoint SteadyClock::now() {
    return std::chrono::steady_clock::now();
}

void SteadyClock::sleep(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(duration);
}

std::string SteadyClock::localTimestamp() {
    return FormatTime(std::time(nullptr), "%x %X", TimeZone::Local);
}

std::string FormatTime(std::int64_t secondsSinceEpoch, const char* format, TimeZone zone) {
    const auto t = static_cast<std::time_t>(secondsSinceEpoch);
    std::tm parts{};
#ifdef _WIN32
    if (zone == TimeZone::Local)
        localtime_s(&parts, &t);
    else
        gmtime_s(&parts, &t);
#else
    if (zone == TimeZone::Local)
        localtime_r(&t, &parts);
    else
        gmtime_r(&t, &parts);
#endif
    char text[64];
    const std::size_t n = std::strftime(text, sizeof text, format, &parts);
    return std::string(text, n);
}

}  // namespace kv
