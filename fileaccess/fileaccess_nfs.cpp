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
#include <unistd.h>
#include <vector>

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
           error == ENETRESET || error == ENOTCONN || error == ECONNREFUSED ||
           error == EHOSTUNREACH || error == ENETUNREACH || error == EIO;
}

// What was left of clients whose server was lost: kept, and reachable, for the life of the
// process (see EndContext); never destroyed, so that it stays reachable at exit too.
struct Abandoned {
    nfs_context* nfs;
    nfsfh* file;
};
std::vector<Abandoned>& AbandonedClients() {
    static auto* clients = new std::vector<Abandoned>;
    return *clients;
}

// Ends a client context (and its file handle, where one is open). One whose server was lost
// is not destroyed: a synchronous call that failed that way can leave its request queued with
// the caller's stack frame as its data, and destroying the context cancels it, calling back
// into memory long gone (libnfs 4.0 crashes there). Its socket is closed and the rest, a few
// kilobytes, is kept; a process keeps at most one such context per handle whose server it
// lost.
void EndContext(nfs_context* nfs, bool lost, nfsfh* file = nullptr) {
    if (!lost) {
        if (file != nullptr) {
            nfs_close(nfs, file);
        }
        nfs_destroy_context(nfs);
        return;
    }
    const int fd = nfs_get_fd(nfs);
    if (fd >= 0) {
        ::close(fd);
    }
    AbandonedClients().push_back({nfs, file});
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
        EndContext(nfs, LostServer(error));
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

// A client context mounted on the export of path, with the URL as the library read it; nullptr
// with the failure noted.
nfs_context* Connect(const char* path, nfs_url** parsedUrl) {
    const url::Parsed parsed = url::Parse(path);
    if (!parsed.url) {
        std::snprintf(Failure, sizeof Failure, "the URL %s", parsed.refusal.c_str());
        errno = EINVAL;
        return nullptr;
    }
    const url::Url& where = *parsed.url;
    nfs_context* nfs = nfs_init_context();
    if (nfs == nullptr) {
        Fail(nullptr, ENOMEM, "no NFS client");
        return nullptr;
    }
    nfs_set_version(nfs, NFS_V4);
    nfs_set_timeout(nfs, REMOTE_TIMEOUT_MS);
    nfs_set_autoreconnect(nfs, 0);
    // The URL's own settings (?version=3) override the defaults above.
    nfs_url* url = nfs_parse_url_full(nfs, LibraryUrl(where).c_str());
    if (url == nullptr) {
        Fail(nfs, EINVAL, "not an NFS URL of a file");
        return nullptr;
    }
    // The server as parsed here: libnfs reads a one-letter name as none.
    const int rc = nfs_mount(nfs, where.host.c_str(), url->path);
    if (rc != 0) {
        nfs_destroy_url(url);
        int error = rc == -EINTR ? ETIMEDOUT : -rc;
        const std::string cause = MountCause(where, error);
        Fail(nfs, error, "mount", cause);
        return nullptr;
    }
    *parsedUrl = url;
    return nfs;
}

TestFileHandle* Open(const char* path, int flags) {
    nfs_url* url = nullptr;
    nfs_context* nfs = Connect(path, &url);
    if (nfs == nullptr) {
        return nullptr;
    }
    int rc = 0;
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

// A read goes out in requests of the server's size (libnfs refuses a larger one); this many
// bytes where the server does not say.
constexpr std::size_t NFS_READ_REQUEST = 65536;

// libnfs 4.0 encodes an NFSv4 request into a buffer of 4096 bytes and does not say how much
// the server takes in one write (its writemax is 0 then): a write goes out in requests of at
// most this many bytes, which leave the buffer room for the call's header, credentials and
// file handle. NFSv3 writes go out in requests of the server's size.
constexpr std::size_t NFS4_WRITE_REQUEST = 3072;

// One transfer of size bytes at `at` as requests of at most the server's size (fallback where
// it says none), each by call(offset, count, bytes done so far): the bytes moved, or -1 when
// the first request failed. A transfer cut by a failure or by the end of the file returns what
// moved before it.
template <typename Call>
ssize_t InRequests(TestFileHandle* file, std::size_t size, off_t at, std::uint64_t serverMax,
                   std::size_t fallback, Call call) {
    const std::size_t request = serverMax > 0 ? static_cast<std::size_t>(serverMax) : fallback;
    std::size_t done = 0;
    while (done < size) {
        if (Lost(file)) {
            return done > 0 ? static_cast<ssize_t>(done) : -1;
        }
        const std::size_t count = size - done < request ? size - done : request;
        const int n = call(static_cast<std::uint64_t>(at) + done, count, done);
        if (Result(file, n) < 0) {
            return done > 0 ? static_cast<ssize_t>(done) : -1;
        }
        if (n == 0) {
            break; // the end of the file, or a write the server took nothing of
        }
        done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

ssize_t ReadAt(TestFileHandle* file, void* buf, std::size_t size, off_t at) {
    return InRequests(file, size, at, nfs_get_readmax(file->nfs), NFS_READ_REQUEST,
                      [&](std::uint64_t offset, std::size_t count, std::size_t done) {
                          return nfs_pread(file->nfs, file->file, offset, count,
                                           static_cast<char*>(buf) + done);
                      });
}

ssize_t WriteAt(TestFileHandle* file, const void* buf, std::size_t size, off_t at) {
    bool tookNothing = false; // a request the server took no byte of: its disk is full
    const ssize_t done =
        InRequests(file, size, at, nfs_get_writemax(file->nfs), NFS4_WRITE_REQUEST,
                   [&](std::uint64_t offset, std::size_t count, std::size_t moved) {
                       const int n = nfs_pwrite(file->nfs, file->file, offset, count,
                                                static_cast<const char*>(buf) + moved);
                       tookNothing = n == 0;
                       return n;
                   });
    if (tookNothing) {
        errno = ENOSPC;
    }
    return done;
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

// A handle whose server is gone is not waited for again: it is not closed at the server.
void Close(TestFileHandle* file) {
    EndContext(file->nfs, file->lostWith != 0, file->file);
    delete file;
}

const char* OpenFailure() {
    return Failure;
}

int Remove(const char* path) {
    nfs_url* url = nullptr;
    nfs_context* nfs = Connect(path, &url);
    if (nfs == nullptr) {
        return -1;
    }
    const int rc = nfs_unlink(nfs, url->file);
    nfs_destroy_url(url);
    EndContext(nfs, rc < 0 && LostServer(-rc));
    if (rc != 0) {
        errno = -rc;
        return -1;
    }
    return 0;
}

bool IsLost(TestFileHandle* file) {
    return file->lostWith != 0;
}

// A failed transfer's cause: the client library's own words where it has some.
const char* TransferFailure(TestFileHandle* file, int error) {
    const char* text = nfs_get_error(file->nfs);
    if (error == ETIMEDOUT) {
        return "the server does not answer";
    }
    if (text == nullptr || text[0] == '\0') {
        return std::strerror(error);
    }
    if (std::strcmp(text, "nfs_service failed") == 0) {
        return "the server cannot be reached or closed the connection"; // libnfs's words for it
    }
    return text;
}

int Sync(TestFileHandle* file) {
    if (Lost(file)) {
        return -1;
    }
    return static_cast<int>(Result(file, nfs_fsync(file->nfs, file->file)));
}

void DropCache(TestFileHandle*) {}

// An NFSv4 LOCK of the range (lockf from the file's offset, moved to at first), or its
// release; never waiting for another holder.
int LockRange(TestFileHandle* file, off_t at, off_t length, bool on) {
    if (Lost(file)) {
        return -1;
    }
    std::uint64_t offset = 0;
    if (Result(file, nfs_lseek(file->nfs, file->file, at, SEEK_SET, &offset)) < 0) {
        return -1;
    }
    return static_cast<int>(Result(
        file, nfs_lockf(file->nfs, file->file, on ? NFS4_F_TLOCK : NFS4_F_ULOCK,
                        length == 0 ? ~std::uint64_t{0} : static_cast<std::uint64_t>(length))));
}

} // namespace

const FileAccess NfsFileAccess = {"nfs",    Open,  ReadAt,      WriteAt,  Size,
                                  Truncate, Close, OpenFailure, IsLost,   TransferFailure,
                                  Remove,   Sync,  DropCache,   LockRange};
