// The engine's clocks.
#include "clocks.h"

#include <algorithm>
#include <ctime>

std::int64_t MonotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

namespace {

// Read once as the library is loaded.
const std::int64_t StartNanoseconds = MonotonicNanoseconds();

} // namespace

SecondsClockFn SecondsClock = &MonotonicSeconds;
MillisecondClockFn MillisecondClock = &ProcessMilliseconds;

std::int64_t MonotonicSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec);
}

std::int64_t ProcessMilliseconds() {
    return (MonotonicNanoseconds() - StartNanoseconds) / 1000000;
}

double RateMilliseconds(std::int64_t start, std::int64_t end) {
    return std::max(static_cast<double>(end - start) + 0.1, 1.0);
}
