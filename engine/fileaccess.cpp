// The choice of backend by the test file's name, and the credentials of the remote ones.
#include "fileaccess.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

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
    const char* scheme = std::strstr(path, "://");
    const char* authority = scheme != nullptr ? scheme + 3 : path;
    const std::size_t length = std::strcspn(authority, "/");
    const char* at = static_cast<const char*>(std::memchr(authority, '@', length));
    const char* colon = at != nullptr
                            ? static_cast<const char*>(std::memchr(authority, ':', at - authority))
                            : nullptr;
    if (scheme == nullptr || colon == nullptr) {
        std::snprintf(shown, size, "%s", path);
        return;
    }
    std::snprintf(shown, size, "%.*s:****%s", static_cast<int>(colon - path), path, at);
}

const FileAccess& FileAccessFor(const char* path) {
    if (std::strncmp(path, "smb://", 6) == 0) {
        return SmbFileAccess;
    }
    if (std::strncmp(path, "nfs://", 6) == 0) {
        return NfsFileAccess;
    }
    return PosixFileAccess;
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
