// The results of a zebcli run as tools read them: a JSON document (--json) and a CSV table
// (--csv); resultsfile.h writes them.
#ifndef ZEBCLI_SUMMARY_H
#define ZEBCLI_SUMMARY_H

#include "options.h"
#include "passevents.h"
#include "testfs.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zebcli {

// One file I/O pass or one session.
struct RunRecord {
    std::string start;         // UTC, ISO 8601 with milliseconds
    double elapsedSeconds = 0; // measured around the engine call
    std::string outcome;
    int resultCode = 0;              // the engine's result code after the call
    std::optional<int> engineResult; // what the engine call returned
    // File I/O: the requested buffer size (the engine lowers an odd one by one) and the pass's
    // operations: its reads and writes of the test file.
    std::optional<std::uint32_t> bufferSize;
    std::optional<std::uint64_t> operations;
    // File I/O on a local test file: what the process read and wrote during the engine call
    // (the pass, its checks and its message lines; a network client's socket traffic is not
    // in it).
    std::optional<std::uint64_t> processBytesRead;
    std::optional<std::uint64_t> processBytesWritten;
    // File I/O: the pass's reads and writes of the test file as the engine reported them
    // (what they moved, not what they asked), the transfers among them that failed or came
    // up short, the first failure's cause, and the engine's own verdict text.
    std::optional<TransferCounts> reads;
    std::optional<TransferCounts> writes;
    std::optional<std::uint64_t> failedOperations;
    std::string cause;
    std::string engineVerdict;
    // The data moved and the time it took: for a pass, the bytes its operations moved from
    // the engine's heading of the pass to its verdict (the operations and, after a pattern
    // that writes, the check of the whole file); for a session, the data bytes of its blocks
    // from the session's begin to its end as the engine posts them.
    std::optional<std::uint64_t> transferBytes;
    std::optional<double> transferSeconds;
    std::optional<std::uint64_t> blocks; // session
    std::string engineRate;              // session: the engine's rate text ("KB/s": bytes/ms)
    std::string summary;                 // send: the engine's summary text

    // Whether the outcome counts as passed: a pass that passed, a session sent or received
    // whole.
    bool Passed() const;
    std::optional<double> BytesPerSecond() const;
    std::optional<double> OperationsPerSecond() const;
};

// What a run tested: the backend behind the test file, its server and the cache mode.
struct TestTarget {
    std::string backend;               // "posix", "smb" or "nfs"
    std::optional<std::string> server; // the host of an smb:// or nfs:// URL (IPv6 unbracketed)
    std::string cache;                 // "plain", "direct", "drop"; "none" for smb and nfs
};
TestTarget DescribeTarget(const Options& options);

// Everything about the run that the results record beside its passes or sessions.
struct RunContext {
    std::string start; // when zebcli started, as RunRecord::start
    std::string host;
    std::vector<std::string> commandLine;
    std::optional<TestedFileSystem> fileSystem; // file I/O on a local path
};
RunContext CurrentContext(const std::vector<std::string>& commandLine);

// The whole result as a JSON document.
std::string ResultsJson(const Options& options, const RunContext& context,
                        const std::vector<RunRecord>& runs, int resultCode);

// One row per pass or session, after a header row.
std::string ResultsCsv(const Options& options, const std::vector<RunRecord>& runs);

// The current time as the results record it.
std::string UtcTimestamp();

// Text as valid UTF-8: valid UTF-8 passes as it is, any other byte above 0x7F is taken as
// Latin-1, as the message board shows it.
std::string BoardUtf8(std::string_view text);

} // namespace zebcli

#endif
