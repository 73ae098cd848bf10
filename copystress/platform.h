// The platform file layer of vor32: exclusive opening, one call per block, byte-range locks,
// the operator's end by signal, and the fixed transfer buffer.
#ifndef VOR32_PLATFORM_H
#define VOR32_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <ctime>

namespace vor32 {

enum class OpenMode {
    ReadExisting,  // read access, the file must exist
    WriteExisting, // write access, the file must exist
    WriteTruncate, // read and write access, created or cut to length 0
};

// Opens path without sharing: no other opener, in this process or another, holds it at the
// same time; the program's own standard input, output and error count as such openers.
// Only a regular file is opened: anything else (a FIFO, a device) is refused with EINVAL and
// never waited on. Returns the descriptor, or -1 with errno set. A refused open leaves the
// file as it was (it is cut to length 0 only once the lock is held).
int OpenExclusive(const char* path, OpenMode mode);
void CloseFile(int fd);

struct IoResult {
    bool succeeded;      // the call returned a count (bRet)
    std::uint32_t count; // bytes moved
    int error;           // errno of the failure, ENOSPC for a short write, else 0
};

// One read or write call (retried only when a signal interrupted it before any byte moved).
IoResult ReadBlock(int fd, void* buffer, std::uint32_t size);
IoResult WriteBlock(int fd, const void* buffer, std::uint32_t size);

// Moves the file pointer to the end of the file and returns that offset (-1 on failure).
std::int64_t SeekToEnd(int fd);
// Write lock and unlock of a byte range (open file description locks); results are not
// looked at by the callers.
bool LockRange(int fd, std::int64_t offset, std::uint32_t length);
bool UnlockRange(int fd, std::int64_t offset, std::uint32_t length);

// Fixed (non-moving) memory for the transfer buffer; nullptr when it cannot be had.
std::byte* AllocateFixed(std::uint32_t size);
void FreeFixed(std::byte* block, std::uint32_t size);

// "Www Mmm dd hh:mm:ss yyyy\n" in local time and the C locale (the day has two digits).
inline constexpr std::size_t kTimeTextSize = 32;
const char* TimeText(std::time_t when, char (&text)[kTimeTextSize]);

// Reopens any of the descriptors 0-2 that is closed on /dev/null, so that no file the
// program opens can become its standard output.
void ReserveStandardDescriptors();

// The operator's end: the first SIGINT, SIGTERM or SIGHUP asks the run to end after the
// transfer under way; a second one ends the process at once with status 130, though never
// in the middle of a log line (see BeginOutput). SIGPIPE is ignored. A SIGINT or SIGHUP that
// was ignored when the program started (a background job, nohup) stays ignored.
void InstallStopSignals();
bool StopRequested();

// Brackets the writing of one line to the log: an immediate end asked for meanwhile waits
// for EndOutput, so the log never ends in a half-written line. Console writes are not
// bracketed: a console that takes no output must not keep the process from ending.
void BeginOutput();
void EndOutput();

} // namespace vor32

#endif
