#include "testfs.h"

#include "filesystems.h"
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

// The test file when it is there, else the directory that will hold it.
std::string Existing(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? path : filesystems::DirectoryOf(path);
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
    tested.type = filesystems::TypeName(static_cast<long>(fs.f_type));
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
