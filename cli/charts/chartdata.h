// What the charts draw of a run, apart from how the results hold it: one entry per pass or
// session, its times from the start of the first.
#ifndef ZEBCLI_CHARTS_CHARTDATA_H
#define ZEBCLI_CHARTS_CHARTDATA_H

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zebcli::charts {

// One interval of a pass or session.
struct Interval {
    double startSeconds = 0; // from the pass's or session's start
    double seconds = 0;
    std::uint64_t operations = 0;
    std::uint64_t bytes = 0;
    std::uint64_t failures = 0;
    std::uint64_t p50Ns = 0;
    std::uint64_t p99Ns = 0;
    std::uint64_t maxNs = 0;
    // Of several clients: the lowest and highest of their own rates in the interval.
    std::optional<std::pair<double, double>> clientRates;
};

// The latency of all the operations of a pass (reads and writes) or blocks of a session.
struct Latency {
    std::uint64_t count = 0;
    std::uint64_t minNs = 0;
    std::uint64_t maxNs = 0;
    std::vector<std::pair<double, std::uint64_t>> percentiles; // percent, ns
    // The value at percent, if it is one of percentiles.
    std::optional<std::uint64_t> At(double percent) const {
        for (const auto& [at, ns] : percentiles) {
            if (at == percent) {
                return ns;
            }
        }
        return std::nullopt;
    }
};

struct ChartRun {
    std::string name; // a pass's buffer size, or "session N"
    std::optional<std::uint32_t> bufferSize;
    bool passed = true;
    std::string outcome;
    double startSeconds = 0; // from the first run's start
    std::optional<double> bytesPerSecond;
    std::optional<double> operationsPerSecond;
    // A pass of several clients: the lowest and highest of the clients' own rates.
    std::optional<std::pair<double, double>> clientRates;
    std::vector<std::string> figures; // a session's figures, as text
    std::vector<Interval> intervals;
    std::optional<Latency> latency;
};

// A number of clients run together, over all its passes.
struct LoadPoint {
    std::uint32_t clients = 0;
    std::optional<double> allRunningBytesPerSecond; // from the release to the first verdict
    bool allRunningCoarse = false; // a pass's window shorter than two intervals (pro rata)
    std::optional<double> wholeBytesPerSecond; // to the last verdict
    std::uint64_t p99Ns = 0;
    bool passed = true; // no client failed
};

} // namespace zebcli::charts

#endif
