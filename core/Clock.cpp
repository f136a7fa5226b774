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
    std::time_t t = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &t);
#else
    localtime_r(&t, &local);
#endif
    char text[64];
    std::size_t n = std::strftime(text, sizeof text, "%x %X", &local);
    return std::string(text, n);
}

}  // namespace kv
