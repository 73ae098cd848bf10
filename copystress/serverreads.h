// Verification that reads what the server holds: where a data file lies on a network file
// system (or where the switches ask for it on any), every copy and growth is made durable and
// the file's cached pages are dropped, so that the check that follows reads the server's copy
// and not the client's memory.
#ifndef VOR32_SERVERREADS_H
#define VOR32_SERVERREADS_H

#include <string>

namespace vor32 {

// The network file system that holds path ("NFS", "SMB", "FUSE"), or nullptr for any other
// (or when it cannot be told).
const char* NetworkFileSystemAt(const char* path);

// Whether the checks of the open file are to read from its server, by the run's setting and
// the file's file system.
bool ReadsGoToServer(int fd);

// Makes what was written through fd durable (fdatasync), then drops the file's cached pages;
// false with errno set when the data could not be made durable.
bool MakeDurable(int fd);
// Drops the cached pages of the whole file (they are clean once it has been made durable).
void DropCachedPages(int fd);

// Whether a file beside dataPath keeps its pages in the client's memory after it has been
// made durable and its pages dropped (a probe file is written, looked at with mincore on a
// mapping, and removed). False where it cannot be told.
bool PagesStayCached(const std::string& dataPath);

// The start-up lines of the mode: for each target where the checks read from the server, the
// line that says so and, where its client keeps the pages anyway, the warning. Nothing for
// the others. Through LogPrintf, during the start-up block.
void ReportServerReads();

} // namespace vor32

#endif
