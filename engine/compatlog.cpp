// Compatibility log writer. Each text becomes one or more records: type byte 7, a 16-bit
// little-endian length, then the text with byte k XORed with k mod 256. The log is only ever
// appended to, opened exclusively for each text, and its directory is never created.
#include "compatlog.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

constexpr unsigned char RECORD_TYPE = 7;
constexpr std::size_t MAX_PAYLOAD = 65535;
constexpr std::size_t HEADER_SIZE = 3;
constexpr std::size_t WINDOWS_DIR_SIZE = 200;

// Holds the longest engine text (a 303-character message, a newline), CR LF and the zero.
char FormatBuffer[320];
// One whole record, header and payload, so that it reaches the file in one write.
unsigned char RecordBuffer[HEADER_SIZE + MAX_PAYLOAD];

bool WriteAll(int fd, const unsigned char* data, std::size_t size) {
    ssize_t written;
    do {
        written = ::write(fd, data, size);
    } while (written < 0 && errno == EINTR);
    return written >= 0 && static_cast<std::size_t>(written) == size;
}

} // namespace

bool CompatLogPath(char* out, std::size_t size) {
    const char* windir = std::getenv("WINDIR");
    if (windir == nullptr || windir[0] == '\0') {
        windir = "/var/log";
    }
    if (std::strlen(windir) >= WINDOWS_DIR_SIZE) {
        return false;
    }
    int n = std::snprintf(out, size, "%s/ctlogs/PLV.log", windir);
    return n > 0 && static_cast<std::size_t>(n) < size;
}

void CompatLogWrite(const char* text) {
    std::size_t remaining = std::strlen(text);
    if (remaining == 0) {
        return;
    }
    char path[WINDOWS_DIR_SIZE + 32];
    if (!CompatLogPath(path, sizeof path)) {
        return;
    }
    int fd = ::open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        return;
    }
    // No sharing: a writer that finds the log busy loses its text rather than waiting.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return;
    }
    off_t end = ::lseek(fd, 0, SEEK_END);
    while (end >= 0 && remaining > 0) {
        std::size_t count = remaining < MAX_PAYLOAD ? remaining : MAX_PAYLOAD;
        RecordBuffer[0] = RECORD_TYPE;
        RecordBuffer[1] = static_cast<unsigned char>(count & 0xFF);
        RecordBuffer[2] = static_cast<unsigned char>(count >> 8);
        for (std::size_t k = 0; k < count; ++k) {
            RecordBuffer[HEADER_SIZE + k] =
                static_cast<unsigned char>(static_cast<unsigned char>(text[k]) ^ (k & 0xFF));
        }
        if (!WriteAll(fd, RecordBuffer, HEADER_SIZE + count)) {
            // A cut record would misalign every record after it: take it back, and stop.
            if (::ftruncate(fd, end) != 0) {
                // Nothing more can be done; failures of the log are silent.
            }
            break;
        }
        end += static_cast<off_t>(HEADER_SIZE + count);
        text += count;
        remaining -= count;
    }
    ::close(fd);
}

void CompatLogPrintf(const char* format, ...) {
    // Leave room for CR LF behind the formatted text; an over-long text is cut.
    constexpr std::size_t room = sizeof FormatBuffer - 2;
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(FormatBuffer, room, format, args);
    va_end(args);
    if (n < 0) {
        return;
    }
    std::size_t len = static_cast<std::size_t>(n) < room ? static_cast<std::size_t>(n) : room - 1;
    FormatBuffer[len] = '\r';
    FormatBuffer[len + 1] = '\n';
    FormatBuffer[len + 2] = '\0';
    CompatLogWrite(FormatBuffer);
}
