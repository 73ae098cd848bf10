// Pins the calling thread to one core, so that the two ends of a loopback benchmark run on
// different cores and neither is moved mid-run. On a one-core machine it leaves things as they are.
#pragma once

#include <sched.h>

#include <thread>

namespace zebbench {

inline void Pin(int cpu) {
    if (std::thread::hardware_concurrency() < 2) {
        return;
    }
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    sched_setaffinity(0, sizeof set, &set);
}

} // namespace zebbench
