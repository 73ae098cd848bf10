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
#include <sys/stat.h>
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

// Appends one record in one write. A write that moved only part of it (a full disk, a file
// size limit) leaves a cut record that would misalign every record after it: the part is
// taken back, measured from the file's size, which only this writer changes while it holds
// the lock. Returns whether the whole record reached the file.
bool AppendRecord(int fd, const unsigned char* data, std::size_t size) {
    ssize_t written;
    do {
        written = ::write(fd, data, size);
    } while (written < 0 && errno == EINTR);
    if (written >= 0 && static_cast<std::size_t>(written) == size) {
        return true;
    }
    struct stat st;
    if (written > 0 && ::fstat(fd, &st) == 0 && st.st_size >= written) {
        if (::ftruncate(fd, st.st_size - written) != 0) {
            // Nothing more can be done; failures of the log are silent.
        }
    }
    return false;
}

} // namespace

bool CompatLogPath(char* out, std::size_t size) {
    const char* windir = std::getenv("WINDIR");
    if (windir == nullptr || windir[0] == '\0') {
        windir = "/var/log";
    }
    static constexpr char tail[] = "/ctlogs/PLV.log";
    const std::size_t length = std::strlen(windir);
    if (length >= WINDOWS_DIR_SIZE || length + sizeof tail > size) {
        return false;
    }
    // NOLINTNEXTLINE(bugprone-not-null-terminated-result): the tail copied next ends in zero.
    std::memcpy(out, windir, length);
    std::memcpy(out + length, tail, sizeof tail);
    return true;
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
    // Append mode: every record lands at the end, wherever the file has grown to. Non-blocking:
    // a FIFO put in the log's place takes what it has room for and never holds the engine up.
    int fd = ::open(path, O_RDWR | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        return;
    }
    // No sharing: a writer that finds the log busy loses its text rather than waiting.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return;
    }
    while (remaining > 0) {
        std::size_t count = remaining < MAX_PAYLOAD ? remaining : MAX_PAYLOAD;
        RecordBuffer[0] = RECORD_TYPE;
        RecordBuffer[1] = static_cast<unsigned char>(count & 0xFF);
        RecordBuffer[2] = static_cast<unsigned char>(count >> 8);
        for (std::size_t k = 0; k < count; ++k) {
            RecordBuffer[HEADER_SIZE + k] =
                static_cast<unsigned char>(static_cast<unsigned char>(text[k]) ^ (k & 0xFF));
        }
        if (!AppendRecord(fd, RecordBuffer, HEADER_SIZE + count)) {
            break; // the rest would follow a record that is missing
        }
        text += count;
        remaining -= count;
    }
    ::close(fd);
}

namespace {

// Room for the text in FormatBuffer: CR LF and the zero follow it.
constexpr std::size_t TEXT_ROOM = sizeof FormatBuffer - 3;

// Ends the first length characters of FormatBuffer with CR LF and writes them.
void WriteFormatted(std::size_t length) {
    FormatBuffer[length] = '\r';
    FormatBuffer[length + 1] = '\n';
    FormatBuffer[length + 2] = '\0';
    CompatLogWrite(FormatBuffer);
}

} // namespace

void CompatLogPrintf(const char* format, ...) {
    // An over-long text is cut to fit the buffer.
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(FormatBuffer, TEXT_ROOM + 1, format, args);
    va_end(args);
    if (n < 0) {
        return;
    }
    WriteFormatted(static_cast<std::size_t>(n) < TEXT_ROOM ? static_cast<std::size_t>(n)
                                                           : TEXT_ROOM);
}

void CompatLogLine(const char* text) {
    const std::size_t length = strnlen(text, TEXT_ROOM);
    std::memcpy(FormatBuffer, text, length);
    WriteFormatted(length);
}
