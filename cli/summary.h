// The machine-readable summary of a zebcli run (--json): the command and its parameters, and
// each pass or session with its start, its elapsed time, its outcome and the result code.
#ifndef ZEBCLI_SUMMARY_H
#define ZEBCLI_SUMMARY_H

#include "options.h"
#include "testfs.h"

#include <optional>
#include <string>
#include <vector>

namespace zebcli {

struct RunRecord {
    std::string start;     // UTC, ISO 8601 with milliseconds
    double elapsedSeconds; // measured by the runner around the engine call
    std::string outcome;
    int resultCode;                          // the engine's result code after the call
    std::optional<std::uint32_t> bufferSize; // file I/O: the requested buffer size
    std::optional<double> operationsPerSecond;
    std::optional<int> engineResult; // what the engine call returned
    std::string summary;             // send: the engine's summary text
    // File I/O: what the process read and wrote during the pass (the pass, its checks and
    // its message lines).
    std::optional<std::uint64_t> bytesRead = std::nullopt;
    std::optional<std::uint64_t> bytesWritten = std::nullopt;
};

// A JSON string literal of text. Texts are bytes: valid UTF-8 passes as it is, any other byte
// above 0x7F is taken as Latin-1, as the message board shows it.
std::string JsonString(std::string_view text);

// The whole summary as a JSON document; a file I/O run names the test file's file system.
std::string SummaryJson(const Options& options, const std::vector<RunRecord>& runs, int resultCode,
                        const std::optional<TestedFileSystem>& fileSystem = std::nullopt);

// Writes text to path through a temporary file beside it and a rename, so that the file is
// either the whole summary or not there. Returns an error text, empty on success.
std::string WriteWholeFile(const std::string& path, const std::string& text);

// The current time as the summary records it.
std::string UtcTimestamp();

} // namespace zebcli

#endif
