// Test files on an SMB server, smb://[user@]server[:port]/share/dir/file (common/url.h), through
// libsmbclient: no mount and no root. One client context serves the process, so the opens of a
// pass share the server's connection and logon.
#include "fileaccess.h"

#include "url.h"
#include "utf8.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <libsmbclient.h>
#include <new>
#include <string>
#include <sys/stat.h>

struct TestFileHandle {
    SMBCFILE* file;
    int lostWith; // the errno of a request that lost the server; 0 while it answers
};

namespace {

SMBCCTX* Context = nullptr;
RemoteCredentials Credentials;
char LoginUser[128]; // the library's own default user: $USER, else "guest"
char Failure[256];

// Fills in what the URL did not give: the user of the authentication file (else the login
// user), the password, the domain. Nothing given at all is a guest logon.
void Authenticate(SMBCCTX*, const char*, const char*, char* workgroup, int workgroupSize,
                  char* user, int userSize, char* password, int passwordSize) {
    if (user[0] == '\0') {
        std::snprintf(user, static_cast<std::size_t>(userSize), "%s",
                      Credentials.user[0] != '\0' ? Credentials.user : LoginUser);
    }
    if (Credentials.domain[0] != '\0') {
        std::snprintf(workgroup, static_cast<std::size_t>(workgroupSize), "%s", Credentials.domain);
    }
    std::snprintf(password, static_cast<std::size_t>(passwordSize), "%s", Credentials.password);
}

SMBCCTX* Client() {
    if (Context != nullptr) {
        return Context;
    }
    SMBCCTX* context = smbc_new_context();
    if (context == nullptr) {
        return nullptr;
    }
    smbc_setDebug(context, 0);
    smbc_setTimeout(context, REMOTE_TIMEOUT_MS);
    smbc_setOptionUseKerberos(context, 0);
    smbc_setOptionFallbackAfterKerberos(context, 1);
    smbc_setFunctionAuthDataWithContext(context, Authenticate);
    if (smbc_init_context(context) == nullptr) {
        smbc_free_context(context, 0);
        return nullptr;
    }
    // The library puts its default user in place of a user the URL does not name before it
    // asks for credentials; with an empty default, Authenticate sees that none was named.
    const char* login = smbc_getUser(context);
    std::snprintf(LoginUser, sizeof LoginUser, "%s", login != nullptr ? login : "");
    smbc_setUser(context, "");
    Context = context;
    return Context;
}

// Errors that say the server is gone or does not answer: every later request on the same
// handle would wait for it again.
bool LostServer(int error) {
    return error == ETIMEDOUT || error == ECONNRESET || error == ECONNABORTED || error == EPIPE ||
           error == ENETRESET || error == ENOTCONN || error == ECONNREFUSED ||
           error == EHOSTUNREACH || error == ENETUNREACH;
}

const char* Cause(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
        return "logon failure or access denied";
    case ENOENT:
        return "no such share, directory or file";
    case ENODEV:
        return "no such share";
    case ETIMEDOUT:
        return "the server does not answer";
    case ECONNREFUSED:
        return "the server refused the connection";
    case EHOSTUNREACH:
    case ENETUNREACH:
        return "the server cannot be reached";
    default:
        return std::strerror(error);
    }
}

// The URL as libsmbclient 4.17 reads it: the scheme in lower case only, and the first colon
// of the server taken for the port's. An IPv6 server goes to it percent-encoded, which it
// decodes before it resolves the name.
std::string LibraryUrl(const url::Url& where) {
    if (!where.ipv6) {
        return url::Joined(where, where.host);
    }
    std::string host;
    for (char c : where.host) {
        host += c == ':' ? std::string("%3A") : std::string(1, c);
    }
    return url::Joined(where, host);
}

// Why the open of where failed with error, in words. An unknown host and a name the server
// refuses both come back as EINVAL: the share's root tells them apart (reached: the name).
std::string OpenCause(SMBCCTX* context, int error, const url::Url& where) {
    if (error == EINVAL) {
        url::Url share = where;
        share.path = where.path.substr(0, where.path.find('/', 1));
        share.query.clear();
        struct stat st {};
        const bool reached =
            smbc_getFunctionStat(context)(context, LibraryUrl(share).c_str(), &st) == 0 ||
            errno != EINVAL;
        if (reached) {
            return "the server refuses the name of the file or of a directory on its path";
        }
        if (!where.ipv6 && !HostResolves(where.host.c_str())) {
            return "unknown host: no address for its name";
        }
    }
    if (error == ECONNREFUSED) {
        return std::string(Cause(error)) + " (nothing listens at port " +
               (where.port != 0 ? std::to_string(where.port) : std::string("445 or 139")) + ")";
    }
    return Cause(error);
}

TestFileHandle* Fail(int error, const std::string& cause) {
    std::snprintf(Failure, sizeof Failure, "%s", cause.c_str());
    errno = error;
    return nullptr;
}

TestFileHandle* Open(const char* path, int flags) {
    const url::Parsed parsed = url::Parse(path);
    if (!parsed.url) {
        return Fail(EINVAL, "the URL " + parsed.refusal);
    }
    const url::Url& where = *parsed.url;
    // SMB names are Unicode: one that is not UTF-8 once its escapes are decoded cannot be sent
    // (the client would call it missing, or run out of memory).
    if (!utf8::Valid(url::Decoded(where.path))) {
        return Fail(EINVAL, "a name in the path is not UTF-8, which SMB names must be");
    }
    if (!ReadRemoteCredentials(Credentials)) {
        return Fail(EACCES, "the authentication file cannot be read");
    }
    // Given credentials are used or refused, never replaced by an anonymous logon.
    SMBCCTX* context = Client();
    if (context == nullptr) {
        return Fail(errno != 0 ? errno : ENOMEM, "no SMB client");
    }
    smbc_setOptionNoAutoAnonymousLogin(context, Credentials.user[0] != '\0' ||
                                                    Credentials.password[0] != '\0');
    SMBCFILE* file = smbc_getFunctionOpen(context)(context, LibraryUrl(where).c_str(), flags, 0666);
    if (file == nullptr) {
        const int error = errno;
        return Fail(error, OpenCause(context, error, where));
    }
    // A file made by this open is a new regular file; the server may refuse to show the
    // attributes of one opened write-only, and a refusal here would leave it empty behind.
    struct stat st {};
    if ((flags & O_EXCL) == 0 &&
        (smbc_getFunctionFstat(context)(context, file, &st) != 0 || !S_ISREG(st.st_mode))) {
        smbc_getFunctionClose(context)(context, file);
        return Fail(EINVAL, "not a regular file");
    }
    auto* handle = new (std::nothrow) TestFileHandle{file, 0};
    if (handle == nullptr) {
        smbc_getFunctionClose(context)(context, file);
        return Fail(ENOMEM, "out of memory");
    }
    return handle;
}

// Fails at once after the server was lost; marks the handle when this request lost it.
ssize_t Result(TestFileHandle* file, ssize_t n) {
    if (n < 0 && LostServer(errno)) {
        file->lostWith = errno;
    }
    return n;
}

bool Lost(TestFileHandle* file) {
    if (file->lostWith != 0) {
        errno = file->lostWith;
        return true;
    }
    return false;
}

ssize_t ReadAt(TestFileHandle* file, void* buf, std::size_t size, off_t at) {
    if (Lost(file) || smbc_getFunctionLseek(Context)(Context, file->file, at, SEEK_SET) < 0) {
        return Result(file, -1);
    }
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = smbc_getFunctionRead(Context)(
            Context, file->file, static_cast<char*>(buf) + done, size - done);
        if (n < 0) {
            return Result(file, done > 0 ? static_cast<ssize_t>(done) : -1);
        }
        if (n == 0) {
            break; // the end of the file
        }
        done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

ssize_t WriteAt(TestFileHandle* file, const void* buf, std::size_t size, off_t at) {
    if (Lost(file) || smbc_getFunctionLseek(Context)(Context, file->file, at, SEEK_SET) < 0) {
        return Result(file, -1);
    }
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = smbc_getFunctionWrite(Context)(
            Context, file->file, static_cast<const char*>(buf) + done, size - done);
        if (n < 0) {
            return Result(file, done > 0 ? static_cast<ssize_t>(done) : -1);
        }
        if (n == 0) {
            errno = ENOSPC;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (done < size && done > 0) {
        errno = ENOSPC;
    }
    return static_cast<ssize_t>(done);
}

off_t Size(TestFileHandle* file) {
    struct stat st {};
    if (Lost(file) || smbc_getFunctionFstat(Context)(Context, file->file, &st) != 0) {
        return Result(file, -1);
    }
    return st.st_size;
}

int Truncate(TestFileHandle* file, off_t length) {
    if (Lost(file) || smbc_getFunctionFtruncate(Context)(Context, file->file, length) != 0) {
        return static_cast<int>(Result(file, -1));
    }
    return 0;
}

// A handle whose server is gone is not closed at the server: that would wait for it again.
void Close(TestFileHandle* file) {
    if (file->lostWith == 0) {
        smbc_getFunctionClose(Context)(Context, file->file);
    }
    delete file;
}

const char* OpenFailure() {
    return Failure;
}

bool IsLost(TestFileHandle* file) {
    return file->lostWith != 0;
}

// A failed transfer's errno in the words of an SMB client.
const char* TransferFailure(TestFileHandle*, int error) {
    switch (error) {
    case ECONNRESET:
    case ENETRESET:
    case ECONNABORTED:
    case EPIPE:
    case ENOTCONN:
        return "the server closed the connection";
    case ETIMEDOUT:
        return "the server does not answer";
    case ENOSPC:
        return "the share is full";
    case EACCES:
    case EPERM:
        return "access denied";
    default:
        return std::strerror(error);
    }
}

int Remove(const char* path) {
    SMBCCTX* context = Client();
    return context == nullptr ? -1 : smbc_getFunctionUnlink(context)(context, path);
}

// libsmbclient sends every write to the server and returns once the server has answered it;
// it keeps no cache and has no call for byte-range locks.
int Sync(TestFileHandle* file) {
    return Lost(file) ? -1 : 0;
}

void DropCache(TestFileHandle*) {}

int LockRange(TestFileHandle*, off_t, off_t, bool) {
    errno = ENOTSUP;
    return -1;
}

} // namespace

const FileAccess SmbFileAccess = {"smb",    Open,  ReadAt,      WriteAt,  Size,
                                  Truncate, Close, OpenFailure, IsLost,   TransferFailure,
                                  Remove,   Sync,  DropCache,   LockRange};
