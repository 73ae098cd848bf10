#include "testfs.h"

#include "modes.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace zebcli {

namespace {

// The engine's fixed transfers: the test file is made and checked in chunks of this size, and
// the overlay modes work at this offset.
constexpr std::uint32_t kCreationChunk = 65534;
constexpr std::uint32_t kOverlayPosition = 0x7FFE0;

struct Magic {
    long number;
    const char* name;
};
constexpr Magic kTypeNames[] = {
    {0xEF53, "ext2/ext3"},    {0x01021994, "tmpfs"},    {0x858458F6, "ramfs"},
    {0x65735546, "fuseblk"},  {0x65735543, "fusectl"},  {0x9123683E, "btrfs"},
    {0x58465342, "xfs"},      {0x6969, "nfs"},          {0xFF534D42, "cifs"},
    {0xFE534D42, "smb2"},     {0x517B, "smb"},          {0x794C7630, "overlayfs"},
    {0x9FA0, "proc"},         {0x62656572, "sysfs"},    {0x4D44, "msdos"},
    {0x2011BAB0, "exfat"},    {0x5346544E, "ntfs"},     {0xF2F52010, "f2fs"},
    {0x01161970, "gfs/gfs2"}, {0x2FC12FC1, "zfs"},      {0x00C36400, "ceph"},
    {0x6E667364, "nfsd"},     {0x73717368, "squashfs"}, {0x9660, "isofs"},
};

// The directory that holds path ("." for a bare name).
std::string Directory(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The test file when it is there, else the directory that will hold it.
std::string Existing(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? path : Directory(path);
}

// A mountinfo field with its octal escapes (\040 for a blank) undone.
std::string Unescaped(const std::string& field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string digits = field.substr(i + 1, 3);
            if (digits.find_first_not_of("01234567") == std::string::npos) {
                out += static_cast<char>(std::strtol(digits.c_str(), nullptr, 8));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

} // namespace

std::string FileSystemTypeName(long magic) {
    for (const Magic& known : kTypeNames) {
        if (known.number == magic) {
            return known.name;
        }
    }
    char text[32];
    std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(magic));
    return text;
}

std::optional<MountEntry> MountHolding(std::string_view mountinfo, const std::string& path) {
    std::optional<MountEntry> best;
    std::size_t lineStart = 0;
    while (lineStart < mountinfo.size()) {
        std::size_t lineEnd = mountinfo.find('\n', lineStart);
        if (lineEnd == std::string_view::npos) {
            lineEnd = mountinfo.size();
        }
        std::istringstream fields(std::string(mountinfo.substr(lineStart, lineEnd - lineStart)));
        lineStart = lineEnd + 1;
        // ID PARENT MAJOR:MINOR ROOT MOUNT-POINT OPTIONS [OPTIONAL...] - TYPE SOURCE SUPER
        std::string id, parent, device, root, mountPoint, field, type, source;
        if (!(fields >> id >> parent >> device >> root >> mountPoint)) {
            continue;
        }
        while (fields >> field && field != "-") {
        }
        if (field != "-" || !(fields >> type >> source)) {
            continue;
        }
        const std::string point = Unescaped(mountPoint);
        const bool holds =
            point == "/" || path == point || path.compare(0, point.size() + 1, point + "/") == 0;
        // The longest mount point that holds the path; of mounts on one point, the last (the
        // one on top).
        if (holds && (!best || point.size() >= best->mountPoint.size())) {
            best = MountEntry{Unescaped(type), Unescaped(source), point};
        }
    }
    return best;
}

std::optional<TestedFileSystem> DescribeFileSystem(const std::string& path) {
    const std::string existing = Existing(path);
    struct statfs fs {};
    if (::statfs(existing.c_str(), &fs) != 0) {
        return std::nullopt;
    }
    TestedFileSystem tested;
    tested.type = FileSystemTypeName(static_cast<long>(fs.f_type));
    char* real = ::realpath(existing.c_str(), nullptr);
    const std::string canonical = real != nullptr ? real : existing;
    std::free(real);
    std::ifstream file("/proc/self/mountinfo");
    std::ostringstream mountinfo;
    mountinfo << file.rdbuf();
    if (const std::optional<MountEntry> mount = MountHolding(mountinfo.str(), canonical)) {
        tested.type = mount->type;
        tested.source = mount->source;
        tested.mountPoint = mount->mountPoint;
    }
    return tested;
}

std::optional<ProcessBytes> ProcessIoBytes() {
    std::ifstream io("/proc/self/io");
    std::string key;
    std::uint64_t value = 0;
    ProcessBytes bytes;
    int found = 0;
    while (io >> key >> value) {
        if (key == "rchar:") {
            bytes.read = value, ++found;
        } else if (key == "wchar:") {
            bytes.written = value, ++found;
        }
    }
    if (found != 2) {
        return std::nullopt;
    }
    return bytes;
}

std::string DirectRefusal(const std::string& path, const std::vector<std::uint32_t>& bufferSizes,
                          int ioMode) {
    const std::string existing = Existing(path);
    const std::optional<TestedFileSystem> tested = DescribeFileSystem(path);
    const std::string type = tested ? tested->type : "unknown";
    // O_DIRECT is asked of the file itself where it is there, else of a probe file beside it.
    std::string probe = existing;
    const bool made = existing != path;
    if (made) {
        probe = path + ".direct-probe";
    }
    const int fd = ::open(
        probe.c_str(),
        (made ? O_RDWR | O_CREAT | O_EXCL : O_RDONLY) | O_DIRECT | O_NONBLOCK | O_CLOEXEC, 0600);
    const int openError = errno;
    if (fd < 0 && openError == EINVAL) {
        return "--cache direct: the test file's file system (" + type +
               ") refuses O_DIRECT; nothing was run";
    }
    std::uint32_t alignment = 1;
    if (fd >= 0) {
        struct statx sx {};
        if (::statx(fd, "", AT_EMPTY_PATH, STATX_DIOALIGN, &sx) == 0 &&
            (sx.stx_mask & STATX_DIOALIGN) != 0 && sx.stx_dio_offset_align > 1) {
            alignment = sx.stx_dio_offset_align;
        }
        ::close(fd);
        if (made) {
            ::unlink(probe.c_str());
        }
    } else if (made) {
        // The probe could not be made (a directory not there, no write access): the passes
        // will say so themselves.
        return {};
    }
    if (alignment <= 1) {
        return {};
    }
    std::vector<std::uint32_t> offsets(bufferSizes);
    offsets.push_back(kCreationChunk);
    if (modes::IsOverlay(static_cast<modes::AccessMode>(ioMode))) {
        offsets.push_back(kOverlayPosition);
    }
    for (std::uint32_t size : offsets) {
        if (size % alignment != 0) {
            char text[256];
            std::snprintf(text, sizeof text,
                          "--cache direct: the test file's file system (%s) needs O_DIRECT "
                          "transfers aligned to %u bytes, and this run's transfers of %u bytes "
                          "are not; nothing was run",
                          type.c_str(), alignment, size);
            return text;
        }
    }
    return {};
}

} // namespace zebcli
