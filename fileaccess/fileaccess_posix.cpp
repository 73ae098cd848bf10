// Local test files: plain POSIX calls on a descriptor, in the cache mode in force.
#include "fileaccess.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

#include "zebdll.h"

struct TestFileHandle {
    int fd;
};

namespace {

int CacheMode = ZEB_CACHE_PLAIN;

// The flags every open of the test file takes in the cache mode in force.
int CacheFlags() {
    return CacheMode == ZEB_CACHE_DIRECT ? O_DIRECT : 0;
}

TestFileHandle* Wrap(int fd) {
    auto* file = new (std::nothrow) TestFileHandle{fd};
    if (file == nullptr) {
        ::close(fd);
        errno = ENOMEM;
    }
    return file;
}

// An exclusive creation makes a new regular file. Any other open takes O_NONBLOCK, so that a
// FIFO in the test file's place cannot hang the caller, and anything but a regular file counts
// as not opened.
TestFileHandle* Open(const char* path, int flags) {
    if ((flags & O_EXCL) != 0) {
        const int fd = ::open(path, flags | CacheFlags() | O_CLOEXEC, 0666);
        return fd < 0 ? nullptr : Wrap(fd);
    }
    const int fd = ::open(path, flags | CacheFlags() | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        return nullptr;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return nullptr;
    }
    return Wrap(fd);
}

// In drop mode every read reaches the file's server or disk: the cached pages of the range
// are dropped first (they are clean, as every write was made durable). The range is widened
// to whole pages, as only whole pages are dropped.
ssize_t ReadAt(TestFileHandle* file, void* buf, std::size_t size, off_t at) {
    if (CacheMode == ZEB_CACHE_DROP) {
        static const off_t page = ::sysconf(_SC_PAGESIZE) > 0 ? ::sysconf(_SC_PAGESIZE) : 4096;
        const off_t first = at / page * page;
        const off_t end = (at + static_cast<off_t>(size) + page - 1) / page * page;
        ::posix_fadvise(file->fd, first, end - first, POSIX_FADV_DONTNEED);
    }
    ssize_t n;
    do {
        n = ::pread(file->fd, buf, size, at);
    } while (n < 0 && errno == EINTR);
    return n;
}

// A short positive count on Linux means the disk is full: it is counted as ENOSPC.
ssize_t WriteAt(TestFileHandle* file, const void* buf, std::size_t size, off_t at) {
    ssize_t n;
    do {
        n = ::pwrite(file->fd, buf, size, at);
    } while (n < 0 && errno == EINTR);
    if (n >= 0 && static_cast<std::size_t>(n) < size) {
        errno = ENOSPC;
    }
    // In drop mode a write counts only once it is durable: a failing flush fails the write.
    if (n > 0 && CacheMode == ZEB_CACHE_DROP && ::fdatasync(file->fd) != 0) {
        n = -1;
    }
    return n;
}

off_t Size(TestFileHandle* file) {
    struct stat st;
    return ::fstat(file->fd, &st) != 0 ? -1 : st.st_size;
}

int Truncate(TestFileHandle* file, off_t length) {
    return ::ftruncate(file->fd, length);
}

void Close(TestFileHandle* file) {
    ::close(file->fd);
    delete file;
}

const char* OpenFailure() {
    return nullptr;
}

bool Lost(TestFileHandle*) {
    return false;
}

const char* Failure(TestFileHandle*, int error) {
    return std::strerror(error);
}

int Remove(const char* path) {
    return ::unlink(path);
}

int Sync(TestFileHandle* file) {
    int rc;
    do {
        rc = ::fdatasync(file->fd);
    } while (rc != 0 && errno == EINTR);
    return rc;
}

void DropCache(TestFileHandle* file) {
    ::posix_fadvise(file->fd, 0, 0, POSIX_FADV_DONTNEED);
}

// Open file description locks: they belong to this handle, not to the process.
int LockRange(TestFileHandle* file, off_t at, off_t length, bool on) {
    struct flock range {};
    range.l_type = on ? F_WRLCK : F_UNLCK;
    range.l_whence = SEEK_SET;
    range.l_start = at;
    range.l_len = length;
    return ::fcntl(file->fd, F_OFD_SETLK, &range);
}

} // namespace

const FileAccess PosixFileAccess = {"posix",  Open,  ReadAt,      WriteAt,  Size,
                                    Truncate, Close, OpenFailure, Lost,     Failure,
                                    Remove,   Sync,  DropCache,   LockRange};

void SetPosixCacheMode(int mode) {
    CacheMode = mode;
}

int PosixCacheMode() {
    return CacheMode;
}
