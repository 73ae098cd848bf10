// What a file I/O run tested, on record: the test file's file system (its type as statfs
// names it, the mount's source and mount point), and the bytes the process moved. And the
// check that O_DIRECT suits the test file's file system before a direct run.
#ifndef ZEBCLI_TESTFS_H
#define ZEBCLI_TESTFS_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zebcli {

struct TestedFileSystem {
    std::string type;       // "ext2/ext3", "tmpfs", "fuseblk", ... or the magic number in hex
    std::string source;     // the mount's source, from /proc/self/mountinfo
    std::string mountPoint; // where it is mounted, from /proc/self/mountinfo
};

// The file system of the test file at path, or of the directory that will hold it; nothing
// when neither can be looked at.
std::optional<TestedFileSystem> DescribeFileSystem(const std::string& path);

// The name statfs's type number goes by (as stat -f names it), else "0x" and the number.
std::string FileSystemTypeName(long magic);

// Everything this process has read and written so far (rchar and wchar of /proc/self/io).
struct ProcessBytes {
    std::uint64_t read = 0;
    std::uint64_t written = 0;
};
std::optional<ProcessBytes> ProcessIoBytes();

// Why a direct run of these passes cannot be made on the test file's file system (it
// refuses O_DIRECT, or needs transfers aligned more coarsely than the sweep's buffer sizes,
// the overlay position or the test file's creation chunks are), or empty when it can.
// bufferSizes are the sweep's sizes as the engine uses them (even).
std::string DirectRefusal(const std::string& path, const std::vector<std::uint32_t>& bufferSizes,
                          int ioMode);

} // namespace zebcli

#endif
