// The run of vor32: start-up block, transfer buffer, run loop, per-transfer line and totals.
#ifndef VOR32_RUN_H
#define VOR32_RUN_H

#include "cmdline.h"

#include <cstdint>

namespace vor32 {

// Runs the stress test with settings that the command line accepted; returns the exit code
// of a normal end (the other ends leave the program from inside).
int RunCopyStress(const Settings& settings);

// 0 to 32767 from a linear congruence seeded with 1 at process start, never reseeded.
int NextRandom();

} // namespace vor32

#endif
