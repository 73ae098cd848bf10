// Process-wide state of the one run, shared by the run loop and the data file operations.
#ifndef VOR32_STATE_H
#define VOR32_STATE_H

#include "cmdline.h"

#include <cstddef>
#include <cstdint>

namespace vor32 {

// The settings from the command line, set once before the run starts.
extern Settings RunSettings;

// The one buffer that every read and write of the data files goes through.
extern std::byte* TransferBuffer;
extern std::uint32_t TransBufSize; // always a multiple of 4

} // namespace vor32

#endif
