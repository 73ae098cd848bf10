#include "targetfile.h"

#include "fileaccess.h"
#include "serverreads.h"
#include "state.h"
#include "url.h"

#include <cerrno>
#include <fcntl.h>

namespace vor32 {

namespace {

int RemoteFlags(OpenMode mode) {
    switch (mode) {
    case OpenMode::ReadExisting:
        return O_RDONLY;
    case OpenMode::WriteExisting:
        return O_RDWR;
    case OpenMode::WriteTruncate:
        return O_RDWR | O_CREAT;
    }
    return O_RDONLY;
}

// A writer holds its whole file, so that no other locker writes to it meanwhile; a client
// that cannot lock (SMB) opens without. Readers take no lock: an NFS server grants write
// locks to writers only.
bool HoldWholeFile(DataFile& file, OpenMode mode) {
    if (mode == OpenMode::ReadExisting) {
        return true;
    }
    file.locked = file.access->lockRange(file.remote, 0, 0, true) == 0;
    return file.locked || errno == ENOTSUP;
}

} // namespace

bool IsRemotePath(const char* path) {
    return url::SchemeOf(path) != url::Scheme::Local;
}

bool OpenDataFile(const char* path, OpenMode mode, DataFile& file) {
    file = DataFile{};
    if (!IsRemotePath(path)) {
        file.fd = OpenExclusive(path, mode);
        return file.fd >= 0;
    }
    file.access = &FileAccessFor(path);
    file.remote = file.access->open(path, RemoteFlags(mode));
    if (file.remote == nullptr) {
        return false;
    }
    // Cut to length 0 only once the lock is held, as a local file is.
    if (!HoldWholeFile(file, mode) ||
        (mode == OpenMode::WriteTruncate && file.access->truncate(file.remote, 0) != 0)) {
        const int error = errno;
        file.access->close(file.remote);
        file.remote = nullptr;
        errno = error;
        return false;
    }
    return true;
}

void CloseDataFile(DataFile& file) {
    if (file.remote != nullptr) {
        if (file.locked) {
            file.access->lockRange(file.remote, 0, 0, false);
        }
        file.access->close(file.remote);
        file.remote = nullptr;
    } else if (file.fd >= 0) {
        CloseFile(file.fd);
        file.fd = -1;
    }
}

IoResult ReadData(DataFile& file, void* buffer, std::uint32_t size) {
    if (file.remote == nullptr) {
        return ReadBlock(file.fd, buffer, size);
    }
    const ssize_t n = file.access->readAt(file.remote, buffer, size, file.position);
    if (n < 0) {
        return {false, 0, errno};
    }
    file.position += n;
    return {true, static_cast<std::uint32_t>(n), 0};
}

IoResult WriteData(DataFile& file, const void* buffer, std::uint32_t size) {
    if (file.remote == nullptr) {
        return WriteBlock(file.fd, buffer, size);
    }
    const ssize_t n = file.access->writeAt(file.remote, buffer, size, file.position);
    if (n < 0) {
        return {false, 0, errno};
    }
    file.position += n;
    auto written = static_cast<std::uint32_t>(n);
    return {true, written, written == size ? 0 : ENOSPC};
}

std::int64_t SeekDataEnd(DataFile& file) {
    if (file.remote == nullptr) {
        return SeekToEnd(file.fd);
    }
    const off_t size = file.access->size(file.remote);
    if (size >= 0) {
        file.position = size;
    }
    return size;
}

void LockData(DataFile& file, std::int64_t offset, std::uint32_t length) {
    if (file.remote == nullptr) {
        LockRange(file.fd, offset, length);
    }
}

void UnlockData(DataFile& file, std::int64_t offset, std::uint32_t length) {
    if (file.remote == nullptr) {
        UnlockRange(file.fd, offset, length);
    }
}

bool ChecksReadServer(const DataFile& file) {
    if (file.remote != nullptr) {
        return RunSettings.ReadsFromServer != ServerReads::Never;
    }
    return ReadsGoToServer(file.fd);
}

bool MakeDataDurable(DataFile& file) {
    if (file.remote == nullptr) {
        return MakeDurable(file.fd);
    }
    if (file.access->sync(file.remote) != 0) {
        return false;
    }
    file.access->dropCache(file.remote);
    return true;
}

void DropDataCache(DataFile& file) {
    if (file.remote == nullptr) {
        DropCachedPages(file.fd);
    } else {
        file.access->dropCache(file.remote);
    }
}

} // namespace vor32
