#include "serverreads.h"

#include "datafile.h"
#include "log.h"
#include "state.h"
#include "url.h"

#include <cerrno>
#include <cstdint>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace vor32 {

namespace {

// The magic numbers of statfs(2) for the file systems whose data lies on a server.
struct NetworkMagic {
    std::uint32_t magic;
    const char* name;
};
constexpr NetworkMagic kNetworkMagics[] = {
    {0x6969, "NFS"},      // NFS_SUPER_MAGIC
    {0x517B, "SMB"},      // SMB_SUPER_MAGIC
    {0xFF534D42, "SMB"},  // CIFS_SUPER_MAGIC
    {0xFE534D42, "SMB"},  // SMB2_SUPER_MAGIC
    {0x65735546, "FUSE"}, // FUSE_SUPER_MAGIC
};

const char* NetworkName(const struct statfs& status) {
    const auto magic = static_cast<std::uint32_t>(status.f_type);
    for (const NetworkMagic& known : kNetworkMagics) {
        if (known.magic == magic) {
            return known.name;
        }
    }
    return nullptr;
}

// The directory that holds a data file path: all before its last "/", "." for none.
std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

constexpr std::size_t kProbeSize = 64 * 1024;

} // namespace

const char* NetworkFileSystemAt(const char* path) {
    struct statfs status {};
    return statfs(path, &status) == 0 ? NetworkName(status) : nullptr;
}

bool ReadsGoToServer(int fd) {
    switch (RunSettings.ReadsFromServer) {
    case ServerReads::Always:
        return true;
    case ServerReads::Never:
        return false;
    case ServerReads::ByFileSystem:
        break;
    }
    struct statfs status {};
    return fstatfs(fd, &status) == 0 && NetworkName(status) != nullptr;
}

bool MakeDurable(int fd) {
    int rc;
    do {
        rc = fdatasync(fd);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        return false;
    }
    DropCachedPages(fd);
    return true;
}

void DropCachedPages(int fd) {
    posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
}

bool PagesStayCached(const std::string& dataPath) {
    const std::string probe = dataPath + ".probe";
    const int fd = open(probe.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    const std::vector<char> block(kProbeSize, 'p');
    bool stay = false;
    if (write(fd, block.data(), block.size()) == static_cast<ssize_t>(block.size()) &&
        MakeDurable(fd)) {
        void* mapped = mmap(nullptr, kProbeSize, PROT_READ, MAP_SHARED, fd, 0);
        if (mapped != MAP_FAILED) {
            const long page = sysconf(_SC_PAGESIZE) > 0 ? sysconf(_SC_PAGESIZE) : 4096;
            std::vector<unsigned char> resident((kProbeSize + static_cast<std::size_t>(page) - 1) /
                                                static_cast<std::size_t>(page));
            if (mincore(mapped, kProbeSize, resident.data()) == 0) {
                for (unsigned char pageState : resident) {
                    stay = stay || (pageState & 1) != 0;
                }
            }
            munmap(mapped, kProbeSize);
        }
    }
    close(fd);
    unlink(probe.c_str());
    return stay;
}

void ReportServerReads() {
    if (RunSettings.ReadsFromServer == ServerReads::Never) {
        return;
    }
    PathBuffer path;
    for (std::size_t t = 0; t < RunSettings.TargetList.size(); ++t) {
        BuildDataFilePath(path, t);
        const char* kind = NetworkFileSystemAt(DirectoryOf(path).c_str());
        const char* target = RunSettings.TargetList[t].c_str();
        if (url::SchemeOf(target) != url::Scheme::Local) {
            // The kit's own clients keep no cache: every read goes to the server.
            LogPrintf("Checks at '%s' read from its server (%s client): every copy made durable "
                      "first.\n",
                      target, url::SchemeOf(target) == url::Scheme::Smb ? "SMB" : "NFS");
            continue;
        }
        if (kind != nullptr) {
            LogPrintf("Checks at '%s' read from its server (%s): every copy made durable first.\n",
                      target, kind);
        } else if (RunSettings.ReadsFromServer == ServerReads::Always) {
            LogPrintf("Checks at '%s' read from its disk (/n): every copy made durable first.\n",
                      target);
        } else {
            continue;
        }
        if (PagesStayCached(path)) {
            LogPrintf("Warning: the client keeps the pages of '%s' cached: its checks read the "
                      "cache.\n",
                      target);
        }
    }
}

} // namespace vor32
