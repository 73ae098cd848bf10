#include "platform.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vor32 {

namespace {

volatile std::sig_atomic_t stopRequested = 0;
volatile std::sig_atomic_t inOutput = 0;
volatile std::sig_atomic_t endPending = 0;

constexpr int kEndAtOnceStatus = 130;

// Exclusive flock on the new descriptor; NFS grants exclusive locks only to writers, so a
// reader refused with EBADF takes a shared one.
bool LockWholeFile(int fd, OpenMode mode) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
        return true;
    }
    if (errno == EBADF && mode == OpenMode::ReadExisting) {
        return flock(fd, LOCK_SH | LOCK_NB) == 0;
    }
    return false;
}

// Standard input, output and error are opens of their files that hold no lock, so the lock
// cannot see them: a regular file that one of them names (a log that standard output is
// redirected to) counts as held by another opener.
bool IsStandardDescriptorFile(int fd) {
    struct stat opened {};
    if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        return false;
    }
    for (int standard = 0; standard <= 2; ++standard) {
        struct stat other {};
        if (fstat(standard, &other) == 0 && other.st_dev == opened.st_dev &&
            other.st_ino == opened.st_ino) {
            return true;
        }
    }
    return false;
}

// Data files and logs must be regular files: anything else (a FIFO, a device) is refused
// before it is waited on or written to. The descriptor was opened with O_NONBLOCK so that a
// FIFO cannot hold up the open; a regular file gets its ordinary blocking calls back.
bool IsRegularFile(int fd) {
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        errno = EINVAL;
        return false;
    }
    int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

bool SetRangeLock(int fd, short type, std::int64_t offset, std::uint32_t length) {
    struct flock range {};
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = offset;
    range.l_len = length;
    range.l_pid = 0; // required for open file description locks
    return fcntl(fd, F_OFD_SETLK, &range) == 0;
}

void OnStopSignal(int) {
    if (!stopRequested) {
        stopRequested = 1;
        return;
    }
    if (inOutput) {
        endPending = 1;
        return;
    }
    _exit(kEndAtOnceStatus);
}

} // namespace

int OpenExclusive(const char* path, OpenMode mode) {
    int flags = O_CLOEXEC | O_NONBLOCK;
    switch (mode) {
    case OpenMode::ReadExisting:
        flags |= O_RDONLY;
        break;
    case OpenMode::WriteExisting:
        flags |= O_WRONLY;
        break;
    case OpenMode::WriteTruncate:
        // Never O_TRUNC: cut only once the lock is held. Read-write, as some network file
        // system clients refuse to cut a file through a write-only descriptor.
        flags |= O_RDWR | O_CREAT;
        break;
    }
    int fd;
    do {
        fd = open(path, flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return -1;
    }
    if (!IsRegularFile(fd)) {
        int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    if (IsStandardDescriptorFile(fd)) {
        close(fd);
        errno = EWOULDBLOCK;
        return -1;
    }
    if (!LockWholeFile(fd, mode) || (mode == OpenMode::WriteTruncate && ftruncate(fd, 0) != 0)) {
        int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

void CloseFile(int fd) {
    close(fd);
}

IoResult ReadBlock(int fd, void* buffer, std::uint32_t size) {
    ssize_t n;
    do {
        n = read(fd, buffer, size);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        return {false, 0, errno};
    }
    return {true, static_cast<std::uint32_t>(n), 0};
}

IoResult WriteBlock(int fd, const void* buffer, std::uint32_t size) {
    ssize_t n;
    do {
        n = write(fd, buffer, size);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        return {false, 0, errno};
    }
    // A regular file takes fewer bytes than offered only when the disk is full.
    auto written = static_cast<std::uint32_t>(n);
    return {true, written, written == size ? 0 : ENOSPC};
}

std::int64_t SeekToEnd(int fd) {
    return lseek(fd, 0, SEEK_END);
}

bool LockRange(int fd, std::int64_t offset, std::uint32_t length) {
    return SetRangeLock(fd, F_WRLCK, offset, length);
}

bool UnlockRange(int fd, std::int64_t offset, std::uint32_t length) {
    return SetRangeLock(fd, F_UNLCK, offset, length);
}

std::byte* AllocateFixed(std::uint32_t size) {
    void* block = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return block == MAP_FAILED ? nullptr : static_cast<std::byte*>(block);
}

void FreeFixed(std::byte* block, std::uint32_t size) {
    if (block != nullptr) {
        munmap(block, size);
    }
}

const char* TimeText(std::time_t when, char (&text)[kTimeTextSize]) {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm local{};
    if (localtime_r(&when, &local) == nullptr) {
        std::snprintf(text, sizeof text, "??? ??? ?? ??:??:?? ????\n");
        return text;
    }
    std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %d\n", kDays[local.tm_wday % 7],
                  kMonths[local.tm_mon % 12], local.tm_mday, local.tm_hour, local.tm_min,
                  local.tm_sec, local.tm_year + 1900);
    return text;
}

void ReserveStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            // open returns the lowest free descriptor, which is this one.
            int opened = open("/dev/null", O_RDWR);
            if (opened >= 0 && opened != fd) {
                close(opened);
            }
        }
    }
}

void InstallStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction previous {};
        sigaction(signal, nullptr, &previous);
        if (signal != SIGTERM && previous.sa_handler == SIG_IGN) {
            continue;
        }
        sigaction(signal, &action, nullptr);
        sigaddset(&stopSignals, signal);
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
    // A parent may have started us with these blocked; the operator must still reach us.
    sigprocmask(SIG_UNBLOCK, &stopSignals, nullptr);
}

bool StopRequested() {
    return stopRequested != 0;
}

void BeginOutput() {
    inOutput = 1;
    std::atomic_signal_fence(std::memory_order_seq_cst);
}

void EndOutput() {
    std::atomic_signal_fence(std::memory_order_seq_cst);
    inOutput = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    if (endPending) {
        _exit(kEndAtOnceStatus);
    }
}

} // namespace vor32
