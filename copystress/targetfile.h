// A data file at a target, local or on a server that vor32 reaches through the kit's own
// clients (an smb:// or nfs:// target, fileaccess/fileaccess.h): one set of calls for both.
// Local files get the exclusive opening and range locks of platform.h; a remote one holds
// the nearest its protocol allows (README: what each client can lock).
#ifndef VOR32_TARGETFILE_H
#define VOR32_TARGETFILE_H

#include "platform.h"

#include <cstdint>

struct TestFileHandle;
struct FileAccess;

namespace vor32 {

struct DataFile {
    int fd = -1;                        // a local file
    TestFileHandle* remote = nullptr;   // a file on a server
    const FileAccess* access = nullptr; // its client
    std::int64_t position = 0;          // a remote file's offset of the next read or write
    bool locked = false;                // a remote file held whole, released before it closes
};

// Whether path names a file on a server (an URL) rather than a local one.
bool IsRemotePath(const char* path);

// Opens path as OpenExclusive does; false with errno set when it cannot.
bool OpenDataFile(const char* path, OpenMode mode, DataFile& file);
void CloseDataFile(DataFile& file);

// One read or write of the file's next bytes.
IoResult ReadData(DataFile& file, void* buffer, std::uint32_t size);
IoResult WriteData(DataFile& file, const void* buffer, std::uint32_t size);
// Moves to the end of the file and returns that offset (-1 on failure).
std::int64_t SeekDataEnd(DataFile& file);
// The block locks around each write of a copy (a remote writer holds its whole file instead).
void LockData(DataFile& file, std::int64_t offset, std::uint32_t length);
void UnlockData(DataFile& file, std::int64_t offset, std::uint32_t length);

// Whether the checks of the file read from its server under the run's setting: by the file
// system for a local file, always for a remote one (unless /k).
bool ChecksReadServer(const DataFile& file);
// Makes what was written durable at the server and drops the client's pages of the file;
// false with errno set when it could not be made durable.
bool MakeDataDurable(DataFile& file);
void DropDataCache(DataFile& file);

} // namespace vor32

#endif
