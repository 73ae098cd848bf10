// The one result of clients run together: each client's passes, and per pass of them all
// the sums (operations, bytes, failures), the latency (the clients' histograms added bucket
// by bucket), the time line (the clients' intervals, each in the interval of the whole in
// which its middle lies), the rate over the window in which all clients ran (from the release
// to the first client's verdict) and over the whole (to the last one's), and the spread of
// the clients' own rates. Every time is a client's own, from its release: no clock of one
// client is compared with another's. zebcli fileio --clients merges its forked clients'
// results with it, zebcli merge results collected apart.
#ifndef ZEBCLI_FLEET_MERGE_H
#define ZEBCLI_FLEET_MERGE_H

#include "records.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zebcli::fleet {

struct ClientResult {
    std::string name;      // "client 3", or the results file's name
    std::string host;      // where it ran
    std::string path;      // its test file
    std::string directory; // its directory, or its results file
    double intervalSeconds = 1;
    std::string clock; // the engine's clock of its durations, as its results name it
    std::vector<RunRecord> runs;
    // Why it failed beyond its passes: ended by the parent, no results, an exit status of
    // failure; empty when none of that.
    std::string ended;
    // Told to stop before a pass because another client failed: what it ran is its result.
    bool stopped = false;
    bool Failed() const;
    // Why it counts as failed, in words; empty when it passed.
    std::string Failure() const;
};

// The rates of the clients in a pass: their number, lowest, highest, mean and population
// standard deviation.
struct Spread {
    std::size_t count = 0;
    double min = 0;
    double max = 0;
    double mean = 0;
    double stddev = 0;
};
Spread SpreadOf(const std::vector<double>& values);

struct MergedPass {
    // The pass of them all: the sums, the merged latency, intervals and failures; its
    // transfer seconds are lastDoneSeconds (so its rates are the whole's); passed when every
    // client that ran it passed.
    RunRecord all;
    std::size_t clients = 0;
    std::size_t clientsPassed = 0;
    double firstDoneSeconds = 0; // from the release: the first client's verdict
    double lastDoneSeconds = 0;  // and the last one's
    // What the clients moved from the release to the first verdict, each client's intervals
    // cut at its release and its verdict and taken pro rata where the window ends inside one.
    double windowBytes = 0;
    double windowOperations = 0;
    std::optional<double> WindowBytesPerSecond() const;
    // Whether the window is shorter than two of the intervals it is counted from, so that
    // most of what it holds is taken pro rata.
    bool Coarse(double intervalSeconds) const { return firstDoneSeconds < 2 * intervalSeconds; }
    std::optional<double> WindowOperationsPerSecond() const;
    Spread bytesPerSecond;
    Spread operationsPerSecond;
    // From their release to their first transfer: the earliest and the latest of the clients.
    std::optional<double> firstTransferMin;
    std::optional<double> firstTransferMax;
};

struct MergedResult {
    std::vector<ClientResult> clients;
    std::vector<MergedPass> passes;
    double intervalSeconds = 1;
    std::vector<std::string> FailedClients() const;
};

// Merges the clients' passes, the first pass of each with the first of the others, and so on.
MergedResult Merge(std::vector<ClientResult> clients);

// A client's result from a zebcli fileio --json document (at most kMaxResultsBytes); nothing,
// and why in error, when it is no such document.
inline constexpr std::size_t kMaxResultsBytes = 512u << 20;
std::optional<ClientResult> ClientFromJson(const std::string& text, std::string& error);
// The same, read from a file.
std::optional<ClientResult> ClientFromFile(const std::string& path, std::string& error);
// A results file's text, at most kMaxResultsBytes; nothing, and why in error, when it cannot
// be read whole.
std::optional<std::string> ResultsText(const std::string& path, std::string& error);

} // namespace zebcli::fleet

#endif
