// What zebcli keeps of each file I/O pass and each session: the record every output reads (the
// JSON and CSV results, the end summary, the charts), carrying its own parameters, and the one
// computation of the totals.
#ifndef ZEBCLI_RECORDS_H
#define ZEBCLI_RECORDS_H

#include "histogram.h"
#include "options.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zebcli {

// The command's name as the results write it: "fileio", "send", "recv" ("log" for zebcli log).
const char* CommandName(Command command);

// How a pass or a session ended.
enum class Outcome {
    EndedByEngine, // the process ended inside the pass (the engine's own exit)
    Passed,
    Failed,
    TestFileNotOpened,
    NotRun,
    Sent,
    SendError,
    NoReceiver,
    NameNotAdded,
    EngineResult, // a sender's engine result of no other outcome: "result N"
    NoSender,
    ListenFailed,
    Completed,
    CompletedWithDataErrors,
    ReceiveError,
    Ended,
};

// The outcome in words; EngineResult names engineResult.
std::string OutcomeText(Outcome outcome, std::optional<int> engineResult = std::nullopt);

// The reads or the writes of one pass.
struct TransferCounts {
    std::uint64_t operations = 0;
    std::uint64_t failed = 0; // failed, or moved fewer bytes than asked
    std::uint64_t bytes = 0;  // bytes moved
};

// One stretch of a pass or a session on the engine's clock (the last one ends with it).
struct IntervalRecord {
    double startSeconds = 0; // from the start of the pass's or the session's engine call
    double seconds = 0;
    std::uint64_t operations = 0;
    std::uint64_t bytes = 0;
    std::uint64_t failures = 0; // failure texts posted (the engine's verdict not counted)
    // The operations' durations; 0 when there was none.
    std::uint64_t p50Ns = 0;
    std::uint64_t p99Ns = 0;
    std::uint64_t maxNs = 0;
    // An interval of clients merged: the lowest and highest of the clients' own rates in it
    // (bytes per second; a client whose pass spans it and that moved nothing in it counts 0).
    std::optional<std::pair<double, double>> clientRates;
};

// The failures of one kind that the engine posted during a pass.
struct FailureRecord {
    std::string kind; // "bad_pair", "read", "write", "verify", "other"
    std::uint64_t count = 0;
    long long firstOffset = -1; // the first and last offset reported; -1: none
    long long lastOffset = -1;
    int expected = -1; // a bad pair: the first one's byte expected and byte found; else -1
    int actual = -1;
    std::string text; // the first text posted, the engine's bytes
};

// The latency histograms of a run, by name.
inline constexpr char kReadLatency[] = "reads";
inline constexpr char kWriteLatency[] = "writes";
inline constexpr char kSendLatency[] = "sends";
inline constexpr char kReceiveLatency[] = "receives";

// One file I/O pass or one session.
struct RunRecord {
    std::string kind;          // CommandName of the run's command
    std::string start;         // UTC, ISO 8601 with milliseconds
    double elapsedSeconds = 0; // measured around the engine call
    Outcome outcome = Outcome::EndedByEngine;
    int resultCode = 0;              // the engine's result code after the call
    std::optional<int> engineResult; // what the engine call returned
    // File I/O: the pass's own parameters: the mode as the table spells it and its index, the
    // iterations, the cache mode of the target ("none" for smb:// and nfs://).
    std::string mode;
    std::optional<int> modeIndex;
    std::optional<std::uint32_t> iterations;
    std::string cache;
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
    // up short, the cause of the first failed transfer or of a refused open, and the engine's
    // own verdict text.
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
    // Each operation timed by the engine: the durations by kind (kReadLatency, ...; only the
    // kinds that occurred), the run cut into intervals, and its failures by kind in the
    // order of their first report.
    std::map<std::string, histogram::Histogram> latency;
    std::vector<IntervalRecord> intervals;
    std::uint64_t intervalsNotKept = 0; // the intervals past the most a run keeps
    std::vector<FailureRecord> failures;
    // A client released together with others (zebcli fileio --clients), on its own monotonic
    // clock: when the pass was released, in seconds from the zero of its intervals; how long
    // it waited at the release once prepared; and, from its release, when its first transfer
    // began and when its verdict came (its pass done).
    std::optional<double> releaseSeconds;
    std::optional<double> releaseWaitSeconds;
    std::optional<double> firstTransferSeconds;
    std::optional<double> doneSeconds;

    // Whether the outcome counts as passed: a pass that passed, a session sent or received
    // whole.
    bool Passed() const;
    std::string OutcomeText() const { return zebcli::OutcomeText(outcome, engineResult); }
    std::optional<double> BytesPerSecond() const;
    std::optional<double> OperationsPerSecond() const;
    // Every operation of the run, whatever its kind, in one histogram.
    histogram::Histogram AllLatency() const;
};

// The runs taken together, as every output shows them: the bytes and transfer time of the runs
// that have both, so that bytes / transfer time is the rate.
struct RunTotals {
    std::size_t runs = 0;
    std::size_t notPassed = 0;
    double elapsedSeconds = 0;
    std::uint64_t bytes = 0;
    double transferSeconds = 0;
    std::uint64_t operations = 0;
    std::optional<double> BytesPerSecond() const;
};
RunTotals Totals(const std::vector<RunRecord>& runs);

} // namespace zebcli

#endif
