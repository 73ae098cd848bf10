// The clock of the events an observer is told of: nanoseconds of CLOCK_MONOTONIC, read two
// times for every transfer of a pass. Where the kernel itself keeps time with the CPU's time
// stamp counter, and the counter runs at one rate in every power state, the counter is read
// instead (a few nanoseconds against a call of the clock), scaled to CLOCK_MONOTONIC and
// anchored to it again at least every 10 ms. Elsewhere every reading is clock_gettime.
#ifndef ZEB_ENGINE_EVENTCLOCK_H
#define ZEB_ENGINE_EVENTCLOCK_H

#include <cstdint>
#include <string_view>

// Nanoseconds of CLOCK_MONOTONIC; never less than the reading before it on this thread of
// the engine.
std::uint64_t EventNanoseconds();

// Whether the time stamp counter may stand for the kernel's clock: the kernel's clocksource
// (the text of current_clocksource) is tsc, and the CPU flags (a "flags" line of
// /proc/cpuinfo) hold constant_tsc and nonstop_tsc.
bool TimeStampCounterUsable(std::string_view clocksource, std::string_view cpuFlags);

// The most an anchored reading may lie from CLOCK_MONOTONIC, in nanoseconds.
inline constexpr std::uint64_t kEventClockBoundNs = 20000;

#endif
