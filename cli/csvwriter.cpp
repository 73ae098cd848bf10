// The CSV results: one row per pass or session (--csv) and one per interval (--series).
#include "summary.h"

#include <type_traits>

namespace zebcli {

namespace {

template <typename T> std::string Cell(const std::optional<T>& value) {
    if (!value) {
        return "";
    }
    if constexpr (std::is_floating_point_v<T>) {
        return CsvNumber(*value);
    } else {
        return std::to_string(*value);
    }
}

// The p50, p99 and maximum of every operation of a run; empty cells when it timed none.
std::vector<std::string> LatencyCells(const RunRecord& run) {
    const histogram::Histogram all = run.AllLatency();
    if (all.Count() == 0) {
        return {"", "", ""};
    }
    return {std::to_string(all.Percentile(50)), std::to_string(all.Percentile(99)),
            std::to_string(all.Max())};
}

std::vector<std::string> Joined(std::vector<std::string> cells,
                                const std::vector<std::string>& more) {
    cells.insert(cells.end(), more.begin(), more.end());
    return cells;
}

} // namespace

std::string ResultsCsv(Command command, const std::vector<RunRecord>& runs) {
    const std::vector<std::string> latency = {"p50_ns", "p99_ns", "max_ns"};
    std::string out;
    if (command == Command::FileIo) {
        out = CsvRow(Joined({"buffer_size", "mode", "iterations", "start", "outcome", "result_code",
                             "elapsed_seconds", "process_bytes_read", "process_bytes_written",
                             "operations", "bytes", "transfer_seconds", "bytes_per_second",
                             "operations_per_second", "failed_operations", "engine_verdict"},
                            latency));
        for (const RunRecord& r : runs) {
            out += CsvRow(Joined({Cell(r.bufferSize), CsvText(r.mode), Cell(r.iterations), r.start,
                                  CsvText(r.OutcomeText()), std::to_string(r.resultCode),
                                  CsvNumber(r.elapsedSeconds), Cell(r.processBytesRead),
                                  Cell(r.processBytesWritten), Cell(r.operations),
                                  Cell(r.transferBytes), Cell(r.transferSeconds),
                                  CsvRate(r.BytesPerSecond()), CsvRate(r.OperationsPerSecond()),
                                  Cell(r.failedOperations), CsvText(r.engineVerdict)},
                                 LatencyCells(r)));
        }
        return out;
    }
    out = CsvRow(Joined({"command", "start", "outcome", "result_code", "elapsed_seconds", "blocks",
                         "bytes", "transfer_seconds", "bytes_per_second", "engine_rate"},
                        latency));
    for (const RunRecord& r : runs) {
        out += CsvRow(Joined({r.kind, r.start, CsvText(r.OutcomeText()),
                              std::to_string(r.resultCode), CsvNumber(r.elapsedSeconds),
                              Cell(r.blocks), Cell(r.transferBytes), Cell(r.transferSeconds),
                              CsvRate(r.BytesPerSecond()), CsvText(BoardUtf8(r.engineRate))},
                             LatencyCells(r)));
    }
    return out;
}

std::string SeriesCsv(Command command, const std::vector<RunRecord>& runs) {
    const bool sweep = command == Command::FileIo;
    std::string out = CsvRow({"run", sweep ? "buffer_size" : "command", "start_seconds", "seconds",
                              "operations", "bytes", "failures", "p50_ns", "p99_ns", "max_ns"});
    for (std::size_t index = 0; index < runs.size(); ++index) {
        const RunRecord& r = runs[index];
        for (const IntervalRecord& i : r.intervals) {
            out += CsvRow({std::to_string(index), sweep ? Cell(r.bufferSize) : r.kind,
                           CsvNumber(i.startSeconds), CsvNumber(i.seconds),
                           std::to_string(i.operations), std::to_string(i.bytes),
                           std::to_string(i.failures), std::to_string(i.p50Ns),
                           std::to_string(i.p99Ns), std::to_string(i.maxNs)});
        }
    }
    return out;
}

} // namespace zebcli
