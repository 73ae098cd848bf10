// The one message routine of vor32 and its log file.
#ifndef VOR32_LOG_H
#define VOR32_LOG_H

namespace vor32 {

// Creates (or truncates) the log for writing, without sharing; false when it cannot.
bool CreateLogFile(const char* name);
void CloseLogFile();

// Whether LogPrintf copies its texts to the log.
extern bool LogAllOutput;

// Formats into the 256-character message buffer (cut to fit), writes the text unchanged to
// standard output, and, while LogAllOutput is on, to the log with its last character
// replaced by CR LF. A failed or short log write ends the program with exit code 2.
[[gnu::format(printf, 1, 2)]] void LogPrintf(const char* format, ...);

// Standard output only, flushed at once.
[[gnu::format(printf, 1, 2)]] void ConsolePrintf(const char* format, ...);

// Ends the program with the exit code (the operating system releases what is left open).
[[noreturn]] void EndProgram(int exitCode);

} // namespace vor32

#endif
