// The results of a zebcli run as tools read them: a JSON document (--json, and its stream of
// intervals, --json-stream), CSV tables (--csv, --series), and what they say of the target and
// the run; resultsfile.h writes them.
#ifndef ZEBCLI_SUMMARY_H
#define ZEBCLI_SUMMARY_H

#include "charts/chartdata.h"
#include "options.h"
#include "records.h"
#include "testfs.h"
#include "textutil.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zebcli {

// What a run tested: the backend behind the test file, its server and the cache mode.
struct TestTarget {
    std::string backend;               // "posix", "smb" or "nfs"
    std::optional<std::string> server; // the host of an smb:// or nfs:// URL (IPv6 unbracketed)
    std::string cache;                 // "plain", "direct", "drop"; "none" for smb and nfs
};
TestTarget DescribeTarget(const Options& options);

// A client of several run together, over all its passes, as the report lists it.
struct ClientRow {
    std::string name;
    std::string host;
    bool passed = false;
    std::string outcome; // "passed", or why not
    std::size_t passes = 0;
    std::uint64_t operations = 0;
    std::uint64_t failedOperations = 0;
    std::uint64_t bytes = 0;
    std::optional<double> bytesPerSecond; // over its passes' transfer time
    std::optional<std::uint64_t> p99Ns;   // of all its operations
};

// Clients run together: a pass of them all beside the clients' own.
struct ClientsPass {
    std::size_t clients = 0; // that ran it
    std::size_t clientsPassed = 0;
    std::optional<double> allRunningBytesPerSecond; // from the release to the first verdict
    bool allRunningCoarse = false; // that window shorter than two intervals, taken pro rata
    std::optional<std::pair<double, double>> clientRates; // the lowest and highest client's
    double meanRate = 0;                                  // of the clients' own rates
    double stddevRate = 0;                                // their population standard deviation
};

// What a "~" before a rate while all ran says, under the tables that show one.
inline constexpr char kCoarseNote[] =
    "~ the window in which all ran is shorter than two intervals: what they moved in it is "
    "taken pro rata (a shorter --interval measures it closer)";

// Everything about the run that the results record beside its passes or sessions.
struct RunContext {
    std::string start; // when zebcli started, as RunRecord::start
    std::string host;
    std::vector<std::string> commandLine;
    std::optional<TestedFileSystem> fileSystem; // file I/O on a local path
    // Clients run together: their number, per run (a pass of them all) its figures beside
    // the clients', and each client; 0 and empty for one process.
    std::size_t clients = 0;
    std::vector<ClientsPass> clientPasses;
    std::vector<ClientRow> clientRows;
    // Several numbers of clients run one after the other: each one's figures (the charts
    // draw them first).
    std::vector<charts::LoadPoint> loadPoints;
};
RunContext CurrentContext(const std::vector<std::string>& commandLine);

// The whole result as a JSON document (jsonwriter.cpp): indented, or on one line (the last
// line of --json-stream).
std::string ResultsJson(const Options& options, const RunContext& context,
                        const std::vector<RunRecord>& runs, int resultCode, bool oneLine = false);

// One line of --json-stream: an interval of the run at index (the runs so far; for a pass its
// record as it starts), ended by a newline.
std::string IntervalJsonLine(std::size_t index, const RunRecord& run,
                             const IntervalRecord& interval);

// One row per pass or session, after a header row (csvwriter.cpp).
std::string ResultsCsv(Command command, const std::vector<RunRecord>& runs);

// One row per interval of every pass or session, after a header row (--series).
std::string SeriesCsv(Command command, const std::vector<RunRecord>& runs);

// The current time as the results record it.
std::string UtcTimestamp();

} // namespace zebcli

#endif
