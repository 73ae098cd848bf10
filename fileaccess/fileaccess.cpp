// The choice of backend by the test file's name, the credentials of the remote ones and what
// they share to say why an open failed.
#include "fileaccess.h"

#include "url.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Copies the value of a "name = value" line into out when the line names key (blanks around
// the name, the equals sign and the value are ignored); true when it did.
bool TakeValue(const char* line, const char* key, char* out, std::size_t outSize) {
    while (*line == ' ' || *line == '\t') {
        ++line;
    }
    const std::size_t keyLength = std::strlen(key);
    if (std::strncmp(line, key, keyLength) != 0) {
        return false;
    }
    line += keyLength;
    while (*line == ' ' || *line == '\t') {
        ++line;
    }
    if (*line != '=') {
        return false;
    }
    ++line;
    while (*line == ' ' || *line == '\t') {
        ++line;
    }
    std::size_t length = std::strcspn(line, "\r\n");
    while (length > 0 && (line[length - 1] == ' ' || line[length - 1] == '\t')) {
        --length;
    }
    std::snprintf(out, outSize, "%.*s", static_cast<int>(length), line);
    return true;
}

} // namespace

void ShownPath(const char* path, char* shown, std::size_t size) {
    std::snprintf(shown, size, "%s", url::Masked(path).c_str());
}

const FileAccess& FileAccessFor(const char* path) {
    switch (url::SchemeOf(path)) {
    case url::Scheme::Local:
        return PosixFileAccess;
    case url::Scheme::Smb:
        return SmbFileAccess;
    case url::Scheme::Nfs:
        return NfsFileAccess;
    case url::Scheme::Unknown:
        break;
    }
    return RefusedFileAccess;
}

bool ReadRemoteCredentials(RemoteCredentials& credentials) {
    credentials.user[0] = '\0';
    credentials.password[0] = '\0';
    credentials.domain[0] = '\0';
    const char* name = std::getenv("ZEB_AUTHENTICATION_FILE");
    if (name != nullptr && name[0] != '\0') {
        if (std::FILE* file = std::fopen(name, "re")) {
            char line[512];
            while (std::fgets(line, sizeof line, file) != nullptr) {
                TakeValue(line, "username", credentials.user, sizeof credentials.user) ||
                    TakeValue(line, "password", credentials.password,
                              sizeof credentials.password) ||
                    TakeValue(line, "domain", credentials.domain, sizeof credentials.domain);
            }
            std::fclose(file);
        } else {
            return false;
        }
    }
    if (const char* password = std::getenv("PASSWD"); password != nullptr && password[0] != '\0') {
        std::snprintf(credentials.password, sizeof credentials.password, "%s", password);
    }
    return true;
}

bool HostResolves(const char* host) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = getaddrinfo(host, nullptr, &hints, &found);
    if (found != nullptr) {
        freeaddrinfo(found);
    }
    return rc == 0;
}

bool ConnectionRefused(const char* host, unsigned port) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (getaddrinfo(host, service.c_str(), &hints, &found) != 0 || found == nullptr) {
        return false;
    }
    bool refused = false;
    const int fd = socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd >= 0) {
        int error = connect(fd, found->ai_addr, found->ai_addrlen) == 0 ? 0 : errno;
        if (error == EINPROGRESS) {
            pollfd waiting{fd, POLLOUT, 0};
            socklen_t length = sizeof error;
            error = poll(&waiting, 1, 1000) == 1 &&
                            getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0
                        ? error
                        : ETIMEDOUT;
        }
        refused = error == ECONNREFUSED;
        close(fd);
    }
    freeaddrinfo(found);
    return refused;
}

namespace {

char RefusalText[256];

// A name no backend serves: the open says why, nothing else is ever called on a handle.
TestFileHandle* RefusedOpen(const char* path, int) {
    std::snprintf(RefusalText, sizeof RefusalText, "the URL %s", url::Parse(path).refusal.c_str());
    errno = EINVAL;
    return nullptr;
}

ssize_t RefusedReadAt(TestFileHandle*, void*, std::size_t, off_t) {
    errno = EBADF;
    return -1;
}

ssize_t RefusedWriteAt(TestFileHandle*, const void*, std::size_t, off_t) {
    errno = EBADF;
    return -1;
}

off_t RefusedSize(TestFileHandle*) {
    errno = EBADF;
    return -1;
}

int RefusedTruncate(TestFileHandle*, off_t) {
    errno = EBADF;
    return -1;
}

void RefusedClose(TestFileHandle*) {}

const char* RefusedOpenFailure() {
    return RefusalText;
}

bool RefusedLost(TestFileHandle*) {
    return true;
}

const char* RefusedFailure(TestFileHandle*, int) {
    return RefusalText;
}

int RefusedRemove(const char*) {
    errno = EINVAL;
    return -1;
}

int RefusedSync(TestFileHandle*) {
    errno = EBADF;
    return -1;
}

void RefusedDropCache(TestFileHandle*) {}

int RefusedLockRange(TestFileHandle*, off_t, off_t, bool) {
    errno = EBADF;
    return -1;
}

} // namespace

const FileAccess RefusedFileAccess = {
    "none",          RefusedOpen,  RefusedReadAt,      RefusedWriteAt,  RefusedSize,
    RefusedTruncate, RefusedClose, RefusedOpenFailure, RefusedLost,     RefusedFailure,
    RefusedRemove,   RefusedSync,  RefusedDropCache,   RefusedLockRange};
