// How the kit reaches a file (the file I/O stress's test file, vor32's data files): one table
// of operations per kind of file, in the manner of an I/O engine. A local path goes through
// POSIX calls (with the cache mode in force); an smb:// URL through libsmbclient; an nfs:// URL
// through libnfs. Callers use the table only, never a backend.
#ifndef ZEB_FILEACCESS_FILEACCESS_H
#define ZEB_FILEACCESS_FILEACCESS_H

#include <cstddef>
#include <sys/types.h>

// An open test file of some backend; what it holds is the backend's own.
struct TestFileHandle;

struct FileAccess {
    // "posix", "smb", "nfs", or "none" for a name no backend serves.
    const char* backend;
    // Opens the test file with open(2)'s flags (O_RDONLY or O_RDWR, with O_CREAT and O_EXCL
    // for an exclusive creation). Anything but a regular file counts as not opened. nullptr
    // with errno set on failure.
    TestFileHandle* (*open)(const char* path, int flags);
    // One positioned transfer: the count moved, 0 at the end of the file, -1 with errno. A
    // write that moves fewer bytes than asked sets errno to ENOSPC.
    ssize_t (*readAt)(TestFileHandle* file, void* buf, std::size_t size, off_t at);
    ssize_t (*writeAt)(TestFileHandle* file, const void* buf, std::size_t size, off_t at);
    // The file's size now, or -1 with errno.
    off_t (*size)(TestFileHandle* file);
    // Cuts the file to length; 0 or -1 with errno.
    int (*truncate)(TestFileHandle* file, off_t length);
    void (*close)(TestFileHandle* file);
    // Why the last open of this backend failed, in words, for one line on standard error;
    // nullptr where the error number says it all (local files).
    const char* (*openFailure)();
    // Whether the file's server is lost: a request failed in a way that fails every later
    // request of the file at once (the connection is gone). Local files never are.
    bool (*lost)(TestFileHandle* file);
    // The cause of a failed transfer or size query of the file, which set errno to error, in
    // words.
    const char* (*failure)(TestFileHandle* file, int error);
    // Removes the file at path: 0, or -1 with errno.
    int (*remove)(const char* path);
    // Makes what was written to the file durable at its disk or server (fdatasync, an NFS
    // COMMIT; an SMB write is complete once the server has answered it): 0, or -1 with errno.
    int (*sync)(TestFileHandle* file);
    // Drops what the client keeps of the file's data, so that the next reads reach its disk
    // or server (the local page cache; the remote clients keep none).
    void (*dropCache)(TestFileHandle* file);
    // Write-locks (on) or unlocks length bytes from at (0: to the end of the file and beyond),
    // without waiting: 0, or -1 with errno, ENOTSUP where the backend's client cannot lock
    // (SMB).
    int (*lockRange)(TestFileHandle* file, off_t at, off_t length, bool on);
};

// path as messages may show it: the password of an URL's user part ("smb://user:pw@server/...",
// which no backend takes) replaced by "****". Cut to fit size.
void ShownPath(const char* path, char* shown, std::size_t size);

// The backend of path (common/url.h): smb:// and nfs:// URLs, the scheme in any case, go to
// their clients; an URL of any other scheme to RefusedFileAccess; anything else is local.
const FileAccess& FileAccessFor(const char* path);

extern const FileAccess PosixFileAccess;
extern const FileAccess SmbFileAccess;
extern const FileAccess NfsFileAccess;
// Every open fails, and says why the URL is not taken.
extern const FileAccess RefusedFileAccess;

// For the remote backends' causes of a failed open: whether the name service has an address
// for host, and whether host refuses a TCP connection to port (nothing listens there; false
// when it accepts, cannot be reached or does not answer within a second).
bool HostResolves(const char* host);
bool ConnectionRefused(const char* host, unsigned port);

// The cache mode of local test files (ZEB_CACHE_*): the flags and transfers of the POSIX
// backend. Remote backends keep no cache and ignore it.
void SetPosixCacheMode(int mode);
int PosixCacheMode();

// Where a remote backend's password comes from: the environment variable PASSWD, else the
// "password = " line of the file named by ZEB_AUTHENTICATION_FILE (smbclient -A format),
// whose "username = " and "domain = " lines also count. Empty fields when none is given;
// false when a file is named but cannot be read.
struct RemoteCredentials {
    char user[128];
    char password[256];
    char domain[128];
};
bool ReadRemoteCredentials(RemoteCredentials& credentials);

// Each remote request waits at most this long for the server (connect, logon, every read
// and write); a handle whose request failed this way fails every later request at once.
constexpr int REMOTE_TIMEOUT_MS = 5000;

// A pass whose transfers of the test file have all failed for this long gives up on the file
// as on a lost server, whatever its backend (a local path on a mount whose server is gone
// fails slowly, request by request, and never says it is lost).
constexpr int FAILING_TRANSFERS_LIMIT_MS = REMOTE_TIMEOUT_MS;

#endif
