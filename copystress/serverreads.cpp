#include "serverreads.h"

#include "datafile.h"
#include "filesystems.h"
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

constexpr std::size_t kProbeSize = 64 * 1024;

} // namespace

const char* NetworkFileSystemAt(const char* path) {
    struct statfs status {};
    return statfs(path, &status) == 0 ? filesystems::NetworkKind(static_cast<long>(status.f_type))
                                      : nullptr;
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
    return fstatfs(fd, &status) == 0 &&
           filesystems::NetworkKind(static_cast<long>(status.f_type)) != nullptr;
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
        const char* kind = NetworkFileSystemAt(filesystems::DirectoryOf(path).c_str());
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
