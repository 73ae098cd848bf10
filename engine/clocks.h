// The engine's clocks: whole seconds for the 20-second waits for the partner station,
// milliseconds since the process started for the session rates, and nanoseconds for the
// transfers an observer is told of. All come from CLOCK_MONOTONIC, so a step of the wall
// clock neither stretches a wait nor spoils a rate.
#ifndef ZEB_ENGINE_CLOCKS_H
#define ZEB_ENGINE_CLOCKS_H

#include <cstdint>

using SecondsClockFn = std::int64_t (*)();
using MillisecondClockFn = std::int64_t (*)();

// CLOCK_MONOTONIC in nanoseconds (the events an observer is told of have a clock of their
// own, eventclock.h).
std::int64_t MonotonicNanoseconds();
// Whole seconds of CLOCK_MONOTONIC.
std::int64_t MonotonicSeconds();
// Milliseconds since the process started (since the engine was loaded, which for a program
// linked against it is its start-up).
std::int64_t ProcessMilliseconds();

// What a session's rate divides its bytes by: the milliseconds from start to end plus 0.1,
// and at least one, the clock's resolution. A transfer that starts and ends within one tick
// of the clock (blocks that only filled the socket buffers) counts as one millisecond long,
// not as a tenth of one.
double RateMilliseconds(std::int64_t start, std::int64_t end);

// The clocks the session stress reads; tests put their own time here.
extern SecondsClockFn SecondsClock;
extern MillisecondClockFn MillisecondClock;

#endif
