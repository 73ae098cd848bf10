// What a file I/O run tested, on record: the test file's file system (its type, source and
// mount point as /proc/self/mountinfo has them), and the bytes the process moved. And the
// check that O_DIRECT suits the test file's file system before a direct run.
#ifndef ZEBCLI_TESTFS_H
#define ZEBCLI_TESTFS_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zebcli {

struct TestedFileSystem {
    std::string type;       // "ext4", "tmpfs", "fuse.smbnetfs", ...: the mount's type
    std::string source;     // the mount's source
    std::string mountPoint; // where it is mounted
};

// One line of /proc/self/mountinfo, its octal escapes (\040 for a blank) undone.
struct MountEntry {
    std::string type;
    std::string source;
    std::string mountPoint;
};

// The mount of a mountinfo text that holds path (absolute, symbolic links resolved): the one
// with the longest mount point that is path or a directory above it; nothing when none is.
std::optional<MountEntry> MountHolding(std::string_view mountinfo, const std::string& path);

// The file system of the test file at path, or of the directory that will hold it: its mount
// in /proc/self/mountinfo; the type statfs names when the mount is not found there; nothing
// when neither can be looked at.
std::optional<TestedFileSystem> DescribeFileSystem(const std::string& path);

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
