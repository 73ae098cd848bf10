#include "log.h"

#include "cmdline.h"
#include "platform.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace vor32 {

namespace {

constexpr int kLogWriteFailed = 2;

int logFile = -1;

// Room for the text, then CR LF in place of its last character, then the terminator.
char messageBuffer[kMessageBufferSize];

void WriteConsole(const char* text, std::size_t length) {
    std::fwrite(text, 1, length, stdout);
    std::fflush(stdout);
}

} // namespace

bool LogAllOutput = false;

bool CreateLogFile(const char* name) {
    logFile = OpenExclusive(name, OpenMode::WriteTruncate);
    return logFile >= 0;
}

void CloseLogFile() {
    if (logFile >= 0) {
        CloseFile(logFile);
        logFile = -1;
    }
}

void LogPrintf(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    int formatted = std::vsnprintf(messageBuffer, kMessageBufferSize - 1, format, args);
    va_end(args);
    if (formatted < 0) {
        return;
    }
    std::size_t length = std::min<std::size_t>(formatted, kMessageBufferSize - 2);

    // The console may take no output at all (a full pipe nobody reads): an immediate end
    // abandons a console write, and completes only a log line under way.
    WriteConsole(messageBuffer, length);
    if (LogAllOutput && length > 0) {
        BeginOutput();
        messageBuffer[length - 1] = '\r';
        messageBuffer[length] = '\n';
        auto wanted = static_cast<std::uint32_t>(length + 1);
        IoResult written = WriteBlock(logFile, messageBuffer, wanted);
        if (!written.succeeded || written.count != wanted) {
            EndOutput();
            WriteConsole("Write to log file failed.\n", 26);
            EndProgram(kLogWriteFailed);
        }
        EndOutput();
    }
}

void ConsolePrintf(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    std::fflush(stdout);
    va_end(args);
}

void EndProgram(int exitCode) {
    std::exit(exitCode);
}

} // namespace vor32
