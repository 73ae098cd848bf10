// Writer of the compatibility log: binary records, each text XORed with its position,
// appended to <Windows directory>/ctlogs/PLV.log under an exclusive open.
#ifndef ZEB_ENGINE_COMPATLOG_H
#define ZEB_ENGINE_COMPATLOG_H

#include <cstddef>

// Appends text (without its terminator) as one or more records; failures are silent.
void CompatLogWrite(const char* text);
// Formats printf-style, appends CR LF and hands the result to CompatLogWrite.
void CompatLogPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The same as CompatLogPrintf("%s", text), without the formatting.
void CompatLogLine(const char* text);

// The log's path: $WINDIR (when set and not empty, else /var/log) + "/ctlogs/PLV.log".
// Returns false when it does not fit the buffer.
bool CompatLogPath(char* out, std::size_t size);

#endif
