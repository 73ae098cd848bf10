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

// Everything about the run that the results record beside its passes or sessions.
struct RunContext {
    std::string start; // when zebcli started, as RunRecord::start
    std::string host;
    std::vector<std::string> commandLine;
    std::optional<TestedFileSystem> fileSystem; // file I/O on a local path
    // Clients run together: their number, and per run (a pass of them all) the lowest and
    // highest of the clients' own rates; 0 and empty for one process.
    std::size_t clients = 0;
    std::vector<std::optional<std::pair<double, double>>> clientRates;
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
