// The data file of vor32: cell k holds the unsigned 32-bit value k, least significant byte
// first. Each operation either succeeds or reports through LogPrintf and ends the program
// with exit code 1. Seconds are differences of time().
#ifndef VOR32_DATAFILE_H
#define VOR32_DATAFILE_H

#include "cmdline.h"

#include <cstdint>
#include <ctime>

namespace vor32 {

using PathBuffer = char[kPathBufferSize];

// Forms the data file path of the target (a "/" between unless it ends in one); the command
// line has made sure that it fits.
char* BuildDataFilePath(PathBuffer& path, std::size_t targetIndex);

// Creates (or truncates) the file and fills it with size / 4 cells from cell 0.
std::time_t CreateInitialFile(const char* path, std::uint32_t size);

// Appends byteCount / 4 cells whose values begin at startOffset / 4.
std::time_t AppendCells(const char* path, std::uint32_t startOffset, std::uint32_t byteCount);

// Copies the whole file, locking each block written to the destination around its write.
std::time_t CopyDataFile(const char* source, const char* destination);

// Checks every cell and the size; returns the seconds spent in its reads.
std::time_t VerifyCells(const char* path, std::uint32_t expectedSize);

} // namespace vor32

#endif
