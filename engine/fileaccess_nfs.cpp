// Test files on an NFS server, nfs://server[:port]/export/dir/file, through libnfs's
// synchronous calls: no mount and no root. NFSv4 unless the URL asks otherwise (?version=3).
// Each open has a client context of its own, mounted on the URL's export.
#include "fileaccess.h"

#include "url.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <nfsc/libnfs-raw-nfs4.h>
#include <nfsc/libnfs.h>
#include <string>
#include <sys/stat.h>

struct TestFileHandle {
    nfs_context* nfs;
    nfsfh* file;
    int lostWith; // the errno of a request that lost the server; 0 while it answers
};

namespace {

char Failure[320];

// Where an NFSv4 server listens unless the URL names a port.
constexpr unsigned NFS_PORT = 2049;

// Errors that say the server is gone or does not answer (the context's connection is then
// unusable: automatic reconnection is off).
bool LostServer(int error) {
    return error == ETIMEDOUT || error == ECONNRESET || error == ECONNABORTED || error == EPIPE ||
           error == ENOTCONN || error == ECONNREFUSED || error == EHOSTUNREACH ||
           error == ENETUNREACH || error == EIO;
}

// The failure of step: the kit's words for it where it has them, with the library's own text
// beside them (unless that is libnfs's "nfs_service failed", which says less).
TestFileHandle* Fail(nfs_context* nfs, int error, const char* step, const std::string& words = {}) {
    const char* own = nfs != nullptr ? nfs_get_error(nfs) : nullptr;
    const bool ownSays =
        own != nullptr && own[0] != '\0' && std::strcmp(own, "nfs_service failed") != 0;
    std::string text = ownSays                            ? own
                       : own != nullptr && own[0] != '\0' ? "the server cannot be reached or "
                                                            "closed the connection"
                                                          : std::strerror(error);
    if (!words.empty()) {
        text = ownSays ? words + " (" + own + ")" : words;
    }
    std::snprintf(Failure, sizeof Failure, "%s: %s", step, text.c_str());
    if (nfs != nullptr) {
        nfs_destroy_context(nfs);
    }
    errno = error;
    return nullptr;
}

// The URL as libnfs 4.0 reads it: that version takes a port only from the URL's settings
// (?nfsport=N), and an IPv6 server without its brackets.
std::string LibraryUrl(const url::Url& where) {
    url::Url moved = where;
    moved.port = 0;
    if (where.port != 0) {
        moved.query.append(moved.query.empty() ? "" : "&")
            .append("nfsport=")
            .append(std::to_string(where.port));
    }
    return url::Joined(moved, where.host);
}

// Why the mount failed, in words (empty for the library's own), and its error number: libnfs
// gives -1 for a connection it could not start.
std::string MountCause(const url::Url& where, int& error) {
    if (!where.ipv6 && !HostResolves(where.host.c_str())) {
        error = EHOSTUNREACH;
        return "unknown host: no address for its name";
    }
    const unsigned port = where.port != 0 ? where.port : NFS_PORT;
    if (ConnectionRefused(where.host.c_str(), port)) {
        error = ECONNREFUSED;
        return "the server refused the connection (nothing listens at port " +
               std::to_string(port) + ")";
    }
    if (error == ENOENT) {
        return "no such export";
    }
    if (error == EACCES) {
        return "access denied";
    }
    return {};
}

// Why the open or creation of the file failed (error), in words; empty for the library's.
std::string OpenCause(int error) {
    switch (error) {
    case ENOENT:
        return "no such directory or file";
    case EACCES:
    case EPERM:
        return "access denied";
    case ENAMETOOLONG:
        return "the server refuses the name: too long";
    case EINVAL:
    case EILSEQ:
        return "the server refuses the name of the file or of a directory on its path";
    case EISDIR:
        return "a directory, not a file";
    default:
        return {};
    }
}

TestFileHandle* Open(const char* path, int flags) {
    const url::Parsed parsed = url::Parse(path);
    if (!parsed.url) {
        std::snprintf(Failure, sizeof Failure, "the URL %s", parsed.refusal.c_str());
        errno = EINVAL;
        return nullptr;
    }
    const url::Url& where = *parsed.url;
    nfs_context* nfs = nfs_init_context();
    if (nfs == nullptr) {
        return Fail(nullptr, ENOMEM, "no NFS client");
    }
    nfs_set_version(nfs, NFS_V4);
    nfs_set_timeout(nfs, REMOTE_TIMEOUT_MS);
    nfs_set_autoreconnect(nfs, 0);
    // The URL's own settings (?version=3) override the defaults above.
    nfs_url* url = nfs_parse_url_full(nfs, LibraryUrl(where).c_str());
    if (url == nullptr) {
        return Fail(nfs, EINVAL, "not an NFS URL of a file");
    }
    // The server as parsed here: libnfs reads a one-letter name as none.
    int rc = nfs_mount(nfs, where.host.c_str(), url->path);
    if (rc != 0) {
        nfs_destroy_url(url);
        int error = rc == -EINTR ? ETIMEDOUT : -rc;
        const std::string cause = MountCause(where, error);
        return Fail(nfs, error, "mount", cause);
    }
    nfsfh* file = nullptr;
    const int access = flags & O_ACCMODE;
    if ((flags & O_EXCL) != 0) {
        rc = nfs_create(nfs, url->file, access | O_EXCL, 0666, &file);
    } else {
        rc = nfs_open(nfs, url->file, access, &file);
        if (rc == -ENOENT && (flags & O_CREAT) != 0) {
            rc = nfs_create(nfs, url->file, access, 0666, &file);
        }
    }
    nfs_destroy_url(url);
    if (rc != 0) {
        return Fail(nfs, -rc, "open", OpenCause(-rc));
    }
    // A file made by this open is a new regular file.
    const bool made = (flags & O_EXCL) != 0;
    nfs_stat_64 st{};
    rc = made ? 0 : nfs_fstat64(nfs, file, &st);
    if (rc != 0 || (!made && !S_ISREG(static_cast<mode_t>(st.nfs_mode)))) {
        nfs_close(nfs, file);
        return Fail(nfs, rc != 0 ? -rc : EINVAL, rc != 0 ? "stat" : "not a regular file");
    }
    auto* handle = new (std::nothrow) TestFileHandle{nfs, file, 0};
    if (handle == nullptr) {
        nfs_close(nfs, file);
        return Fail(nfs, ENOMEM, "open");
    }
    return handle;
}

// A library result (-errno on failure) as a POSIX one; a request that lost the server marks
// the handle, and every later one fails at once.
long long Result(TestFileHandle* file, long long rc) {
    if (rc >= 0) {
        return rc;
    }
    // A synchronous call whose reply did not come in time fails with EINTR.
    errno = rc == -EINTR ? ETIMEDOUT : static_cast<int>(-rc);
    if (LostServer(errno)) {
        file->lostWith = errno;
    }
    return -1;
}

bool Lost(TestFileHandle* file) {
    if (file->lostWith != 0) {
        errno = file->lostWith;
        return true;
    }
    return false;
}

ssize_t ReadAt(TestFileHandle* file, void* buf, std::size_t size, off_t at) {
    std::size_t done = 0;
    while (done < size) {
        if (Lost(file)) {
            return done > 0 ? static_cast<ssize_t>(done) : -1;
        }
        const int n = nfs_pread(file->nfs, file->file, static_cast<std::uint64_t>(at) + done,
                                size - done, static_cast<char*>(buf) + done);
        if (Result(file, n) < 0) {
            return done > 0 ? static_cast<ssize_t>(done) : -1;
        }
        if (n == 0) {
            break; // the end of the file
        }
        done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

// libnfs 4.0 encodes an NFSv4 request into a buffer of 4096 bytes and does not say how much
// the server takes in one write (its writemax is 0 then): a write goes out in requests of at
// most this many bytes, which leave the buffer room for the call's header, credentials and
// file handle. NFSv3 writes go out in requests of the server's size.
constexpr std::size_t NFS4_WRITE_REQUEST = 3072;

ssize_t WriteAt(TestFileHandle* file, const void* buf, std::size_t size, off_t at) {
    const std::uint64_t serverMax = nfs_get_writemax(file->nfs);
    const std::size_t request =
        serverMax > 0 ? static_cast<std::size_t>(serverMax) : NFS4_WRITE_REQUEST;
    std::size_t done = 0;
    while (done < size) {
        if (Lost(file)) {
            return done > 0 ? static_cast<ssize_t>(done) : -1;
        }
        const std::size_t count = size - done < request ? size - done : request;
        const int n = nfs_pwrite(file->nfs, file->file, static_cast<std::uint64_t>(at) + done,
                                 count, static_cast<const char*>(buf) + done);
        if (Result(file, n) < 0) {
            return done > 0 ? static_cast<ssize_t>(done) : -1;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (done < size) {
        errno = ENOSPC;
    }
    return static_cast<ssize_t>(done);
}

off_t Size(TestFileHandle* file) {
    if (Lost(file)) {
        return -1;
    }
    nfs_stat_64 st{};
    if (Result(file, nfs_fstat64(file->nfs, file->file, &st)) < 0) {
        return -1;
    }
    return static_cast<off_t>(st.nfs_size);
}

int Truncate(TestFileHandle* file, off_t length) {
    if (Lost(file)) {
        return -1;
    }
    return static_cast<int>(
        Result(file, nfs_ftruncate(file->nfs, file->file, static_cast<std::uint64_t>(length))));
}

void Closed(int, nfs_context*, void*, void*) {}

// A handle whose server is gone is not waited for again: its close is only queued, and
// destroying the context cancels it (which frees the library's file handle).
void Close(TestFileHandle* file) {
    if (file->lostWith == 0) {
        nfs_close(file->nfs, file->file);
    } else {
        nfs_close_async(file->nfs, file->file, Closed, nullptr);
    }
    nfs_destroy_context(file->nfs);
    delete file;
}

const char* OpenFailure() {
    return Failure;
}

} // namespace

const FileAccess NfsFileAccess = {"nfs", Open, ReadAt, WriteAt, Size, Truncate, Close, OpenFailure};
