#include "endsummary.h"

#include <array>
#include <cstdio>

namespace zebcli {

namespace {

// The columns: what a run is, then what it moved, over how long, at what rate; the header
// is printed with the rows' widths.
constexpr char kFileIoRow[] = "%8s  %-27s %8s %12s %9s %9s %9s";
constexpr char kSessionRow[] = "%-8s  %-27s %8s %12s %9s %9s";

std::string Cell(const char* format, double value, bool known) {
    char text[32];
    if (known) {
        std::snprintf(text, sizeof text, format, value);
    } else {
        std::snprintf(text, sizeof text, "%s", "-");
    }
    return text;
}

// Enough digits that the bytes over the seconds give the rate beside them.
std::string Seconds(const std::optional<double>& seconds) {
    return Cell("%.6f", seconds.value_or(0), seconds.has_value());
}

std::string MegabytesPerSecond(const std::optional<double>& rate) {
    return Cell("%.2f", rate.value_or(0) / 1e6, rate.has_value());
}

std::string Bytes(const std::optional<std::uint64_t>& bytes) {
    return bytes ? HumanBytes(*bytes) : "-";
}

} // namespace

std::string HumanBytes(std::uint64_t bytes) {
    constexpr std::array<const char*, 6> kUnits = {"kB", "MB", "GB", "TB", "PB", "EB"};
    char text[32];
    if (bytes < 1000) {
        std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
        return text;
    }
    auto value = static_cast<double>(bytes) / 1000;
    std::size_t unit = 0;
    // 999.5 kB and above would print as "1000 kB": the next unit instead.
    while (value >= 999.5 && unit + 1 < kUnits.size()) {
        value /= 1000;
        ++unit;
    }
    const char* format = value < 9.995 ? "%.2f %s" : value < 99.95 ? "%.1f %s" : "%.0f %s";
    std::snprintf(text, sizeof text, format, value, kUnits[unit]);
    return text;
}

std::vector<std::string> EndSummary(const Options& options, const std::vector<RunRecord>& runs) {
    const bool fileIo = options.command == Command::FileIo;
    char line[256];
    if (fileIo) {
        std::snprintf(line, sizeof line, kFileIoRow, "buffer", "outcome", "bytes", "transfer s",
                      "MB/s", "ops/s", "call s");
    } else {
        std::snprintf(line, sizeof line, kSessionRow, "session", "outcome", "bytes", "transfer s",
                      "MB/s", "blocks");
    }
    std::vector<std::string> lines = {line};
    for (const RunRecord& run : runs) {
        if (fileIo) {
            std::snprintf(line, sizeof line, kFileIoRow,
                          std::to_string(run.bufferSize.value_or(0)).c_str(),
                          run.OutcomeText().c_str(), Bytes(run.transferBytes).c_str(),
                          Seconds(run.transferSeconds).c_str(),
                          MegabytesPerSecond(run.BytesPerSecond()).c_str(),
                          Cell("%.0f", run.OperationsPerSecond().value_or(0),
                               run.OperationsPerSecond().has_value())
                              .c_str(),
                          Cell("%.3f", run.elapsedSeconds, true).c_str());
        } else {
            std::snprintf(line, sizeof line, kSessionRow, "session", run.OutcomeText().c_str(),
                          Bytes(run.transferBytes).c_str(), Seconds(run.transferSeconds).c_str(),
                          MegabytesPerSecond(run.BytesPerSecond()).c_str(),
                          run.blocks ? std::to_string(*run.blocks).c_str() : "-");
        }
        lines.emplace_back(line);
    }
    const RunTotals totals = Totals(runs);
    std::snprintf(line, sizeof line, "%zu %s, %zu not passed: %s in %.6f s of transfer, %s MB/s",
                  totals.runs,
                  fileIo ? (totals.runs == 1 ? "pass" : "passes")
                         : (totals.runs == 1 ? "session" : "sessions"),
                  totals.notPassed, HumanBytes(totals.bytes).c_str(), totals.transferSeconds,
                  MegabytesPerSecond(totals.BytesPerSecond()).c_str());
    lines.emplace_back(line);
    return lines;
}

} // namespace zebcli
