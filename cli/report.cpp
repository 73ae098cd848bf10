#include "report.h"

#include "charts/axis.h"
#include "charts/svg.h"
#include "plot.h"

namespace zebcli {

namespace {

using charts::Format;
using charts::Xml;

constexpr char kStyle[] = R"(
body { font-family: "DejaVu Sans", Arial, sans-serif; color: #222; margin: 0 auto;
  max-width: 1000px; padding: 12px; line-height: 1.4; }
h1 { font-size: 1.4em; margin: 0.4em 0 0.1em; overflow-wrap: anywhere; }
h2 { font-size: 1.15em; margin: 1.2em 0 0.4em; border-bottom: 1px solid #ccc; }
p.sub { color: #444; margin: 0 0 1em; overflow-wrap: anywhere; }
.verdict { font-weight: bold; padding: 0.3em 0.6em; display: inline-block; }
p.passed { color: #1b6e20; } p.failed, tr.failed td:nth-child(2) { color: #c8102e; }
tr.failed td { background: #fdecee; }
.scroll { overflow-x: auto; }
table { border-collapse: collapse; font-size: 0.9em; }
th, td { border: 1px solid #ccc; padding: 0.2em 0.5em; text-align: left; vertical-align: top; }
td.n { text-align: right; font-variant-numeric: tabular-nums; white-space: nowrap; }
th { background: #f0f0f0; }
dl { display: grid; grid-template-columns: max-content 1fr; gap: 0.1em 1em; margin: 0; }
dt { color: #555; } dd { margin: 0; overflow-wrap: break-word; min-width: 0; }
/* On a narrow screen a chart keeps a width its texts can be read at, and scrolls. */
figure { margin: 0 0 1em; }
svg { width: 100%; min-width: 640px; height: auto; border: 1px solid #eee; }
@media print {
  body { max-width: none; padding: 0; font-size: 10pt; }
  .scroll { overflow: visible; }
  svg { min-width: 0; }
  figure, table, dl { break-inside: avoid; }
  h2 { break-after: avoid; }
}
@page { margin: 14mm; }
)";

std::string Cell(const std::string& text, bool number = false) {
    return std::string(number ? "<td class=\"n\">" : "<td>") + Xml(text) + "</td>";
}

template <typename T> std::string Optional(const std::optional<T>& value) {
    return value ? std::to_string(*value) : "-";
}

std::string Term(const std::string& name, const std::string& value) {
    return "<dt>" + Xml(name) + "</dt><dd>" + Xml(value) + "</dd>\n";
}

std::string Duration(std::optional<std::uint64_t> ns) {
    return ns ? charts::ScaledText(static_cast<double>(*ns), charts::kDurationUnits) : "-";
}

std::string Parameters(const Options& options, const RunContext& context) {
    // The words as a shell would take them back: one with a blank or a shell character quoted.
    std::string commandLine;
    for (const std::string& word : context.commandLine) {
        const bool plain =
            !word.empty() &&
            word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                   "0123456789-_./=:,+@%") == std::string::npos;
        std::string quoted = "'";
        for (char c : word) {
            quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        }
        commandLine += (commandLine.empty() ? "" : " ") + (plain ? word : quoted + "'");
    }
    std::string out = "<dl>\n" + Term("command line", commandLine) + Term("host", context.host) +
                      Term("started", context.start);
    if (options.command == Command::FileIo) {
        out += Term("test file", options.path) + Term("mode", options.modeText) +
               Term("buffer sizes", Format("%u to %u in steps of %u", options.fromSize,
                                           options.toSize, options.sizeIncrement)) +
               Term("iterations per pass", std::to_string(options.iteration));
    } else if (options.command == Command::Send) {
        out += Term("blocks", std::to_string(options.blocks)) +
               Term("block size", std::to_string(options.bufferSize) + " bytes");
    }
    return out + "</dl>\n";
}

std::string Target(const Options& options, const RunContext& context) {
    const TestTarget target = DescribeTarget(options);
    std::string out = "<dl>\n" + Term("backend", target.backend);
    if (target.server) {
        out += Term("server", *target.server);
    }
    out += Term("cache", target.cache);
    if (context.fileSystem) {
        out += Term("file system", context.fileSystem->type) +
               Term("source", context.fileSystem->source) +
               Term("mount point", context.fileSystem->mountPoint);
    }
    return out + "</dl>\n";
}

// A pass's failed operations; a session's failures posted.
std::optional<std::uint64_t> Failed(const RunRecord& run) {
    if (run.failedOperations || run.failures.empty()) {
        return run.failedOperations;
    }
    std::uint64_t count = 0;
    for (const FailureRecord& failure : run.failures) {
        count += failure.count;
    }
    return count;
}

std::string Rate(std::optional<double> bytesPerSecond) {
    return bytesPerSecond ? charts::ScaledText(*bytesPerSecond, charts::kRateUnits) : "-";
}

// "1.44 to 3.23 GB/s", or "980 MB/s to 1.02 GB/s" where the units differ.
std::string RateRange(double low, double high) {
    const std::string from = Rate(low);
    const std::string to = Rate(high);
    const std::size_t space = from.rfind(' ');
    if (space != std::string::npos && to.size() > from.size() - space &&
        to.ends_with(std::string_view(from).substr(space))) {
        return from.substr(0, space) + " to " + to;
    }
    return from + " to " + to;
}

std::string RunTable(const Options& options, const std::vector<RunRecord>& runs) {
    const bool sweep = options.command == Command::FileIo;
    const std::vector<charts::ChartRun> chartRuns = ChartRuns(options, runs);
    std::string out =
        "<div class=\"scroll\"><table>\n<tr><th>" + std::string(sweep ? "buffer size" : "session") +
        "</th><th>outcome</th><th>" + (sweep ? "operations" : "blocks") + "</th><th>" +
        (sweep ? "failed I/O" : "failures") + "</th><th>bytes</th><th>seconds</th><th>rate</th>" +
        (sweep ? "<th>operations/s</th>" : "") + "<th>p50</th><th>p99</th><th>max</th></tr>\n";
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const RunRecord& run = runs[i];
        const charts::ChartRun& chart = chartRuns[i];
        const std::optional<charts::Latency>& latency = chart.latency;
        out += std::string("<tr class=\"") + (run.Passed() ? "passed" : "failed") + "\">" +
               Cell(chart.name, sweep) + Cell(run.OutcomeText()) +
               Cell(Optional(sweep ? run.operations : run.blocks), true) +
               Cell(Optional(Failed(run)), true) + Cell(Optional(run.transferBytes), true) +
               Cell(run.transferSeconds ? Format("%.3f", *run.transferSeconds) : "-", true) +
               Cell(Rate(run.BytesPerSecond()), true);
        if (sweep) {
            out += Cell(
                run.OperationsPerSecond() ? Format("%.0f", *run.OperationsPerSecond()) : "-", true);
        }
        out += Cell(Duration(latency ? latency->At(50) : std::nullopt), true) +
               Cell(Duration(latency ? latency->At(99) : std::nullopt), true) +
               Cell(Duration(latency ? std::optional(latency->maxNs) : std::nullopt), true) +
               "</tr>\n";
    }
    return out + "</table></div>\n";
}

// The passes of clients run together: how many passed, the rate of them all while all ran
// ("~" where that window is taken pro rata) and over the whole, and the spread of the
// clients' own rates.
std::string ClientsPassTable(const std::vector<RunRecord>& runs, const RunContext& context) {
    std::string out = "<div class=\"scroll\"><table>\n<tr><th>buffer size</th><th>clients "
                      "passed</th><th>rate while all ran</th><th>rate over the whole</th>"
                      "<th>clients' rates, lowest to highest</th><th>mean</th><th>stddev</th>"
                      "</tr>\n";
    bool coarse = false;
    for (std::size_t i = 0; i < runs.size() && i < context.clientPasses.size(); ++i) {
        const RunRecord& run = runs[i];
        const ClientsPass& pass = context.clientPasses[i];
        const bool marked = pass.allRunningCoarse && pass.allRunningBytesPerSecond;
        coarse = coarse || marked;
        out += std::string("<tr class=\"") + (run.Passed() ? "passed" : "failed") + "\">" +
               Cell(Optional(run.bufferSize), true) +
               Cell(Format("%zu of %zu", pass.clientsPassed, pass.clients)) +
               Cell((marked ? "~" : "") + Rate(pass.allRunningBytesPerSecond), true) +
               Cell(Rate(run.BytesPerSecond()), true) +
               Cell(pass.clientRates ? RateRange(pass.clientRates->first, pass.clientRates->second)
                                     : "-",
                    true) +
               Cell(pass.clientRates ? Rate(pass.meanRate) : "-", true) +
               Cell(pass.clientRates ? Rate(pass.stddevRate) : "-", true) + "</tr>\n";
    }
    return out + "</table></div>\n" + (coarse ? "<p>" + Xml(kCoarseNote) + "</p>\n" : "");
}

// Each client of several run together, over all its passes.
std::string ClientTable(const std::vector<ClientRow>& rows) {
    std::string out = "<div class=\"scroll\"><table>\n<tr><th>client</th><th>outcome</th>"
                      "<th>host</th><th>passes</th><th>operations</th><th>failed I/O</th>"
                      "<th>bytes</th><th>rate</th><th>p99</th></tr>\n";
    for (const ClientRow& row : rows) {
        out += std::string("<tr class=\"") + (row.passed ? "passed" : "failed") + "\">" +
               Cell(row.name) + Cell(row.outcome) + Cell(row.host.empty() ? "-" : row.host) +
               Cell(std::to_string(row.passes), true) + Cell(std::to_string(row.operations), true) +
               Cell(std::to_string(row.failedOperations), true) +
               Cell(std::to_string(row.bytes), true) + Cell(Rate(row.bytesPerSecond), true) +
               Cell(Duration(row.p99Ns), true) + "</tr>\n";
    }
    return out + "</table></div>\n";
}

std::string Offset(long long offset) {
    return offset < 0 ? "-" : std::to_string(offset);
}

std::string Byte(int value) {
    return value < 0 ? "-" : Format("0x%02X", static_cast<unsigned>(value));
}

// Each run that did not pass or posted failures: its outcome and cause, and its failures by
// kind.
std::string Failures(const Options& options, const std::vector<RunRecord>& runs) {
    const std::vector<charts::ChartRun> chartRuns = ChartRuns(options, runs);
    std::string out;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const RunRecord& run = runs[i];
        if (run.Passed() && run.failures.empty()) {
            continue;
        }
        out += "<li><b>" + Xml(chartRuns[i].name) + "</b>: " + Xml(run.OutcomeText());
        if (!run.cause.empty()) {
            out += "; cause: " + Xml(run.cause);
        }
        if (!run.engineVerdict.empty()) {
            out += "; the engine's verdict: " + Xml(run.engineVerdict);
        }
        if (!run.failures.empty()) {
            out += "<div class=\"scroll\"><table>\n<tr><th>kind</th><th>count</th><th>first "
                   "offset</th><th>last offset</th><th>expected</th><th>read</th><th>first "
                   "text</th></tr>\n";
            for (const FailureRecord& failure : run.failures) {
                out += "<tr>" + Cell(failure.kind) + Cell(std::to_string(failure.count), true) +
                       Cell(Offset(failure.firstOffset), true) +
                       Cell(Offset(failure.lastOffset), true) + Cell(Byte(failure.expected), true) +
                       Cell(Byte(failure.actual), true) + Cell(failure.text) + "</tr>\n";
            }
            out += "</table></div>";
        }
        out += "</li>\n";
    }
    return out.empty() ? "<p>None.</p>\n" : "<ul>\n" + out + "</ul>\n";
}

} // namespace

std::string ResultsHtml(const Options& options, const RunContext& context,
                        const std::vector<RunRecord>& runs, int resultCode) {
    const RunCharts all = ChartsOf(options, context, runs);
    const std::size_t notPassed = Totals(runs).notPassed;
    const bool passed = notPassed == 0 && resultCode == ZEB_RESULT_PASSED && !runs.empty();
    const bool sweep = options.command == Command::FileIo;
    std::string html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                       "<title>" +
                       Xml(all.title) + "</title>\n<style>" + kStyle +
                       "</style>\n</head>\n<body>\n";
    html += "<h1>" + Xml(all.title) + "</h1>\n<p class=\"sub\">" + Xml(all.subtitle) + "</p>\n";
    html += std::string("<p class=\"verdict ") + (passed ? "passed" : "failed") + "\">" +
            Xml(Format("%zu %s, %zu not passed", runs.size(),
                       sweep ? (runs.size() == 1 ? "pass" : "passes")
                             : (runs.size() == 1 ? "session" : "sessions"),
                       notPassed)) +
            "</p>\n";
    html += "<h2>Parameters</h2>\n" + Parameters(options, context);
    if (sweep) { // a session has no test file
        html += "<h2>Target</h2>\n" + Target(options, context);
    }
    html +=
        std::string("<h2>") + (sweep ? "Passes" : "Sessions") + "</h2>\n" + RunTable(options, runs);
    if (!context.clientRows.empty()) {
        html += "<h2>Clients together</h2>\n" + ClientsPassTable(runs, context) +
                "<h2>Clients</h2>\n" + ClientTable(context.clientRows);
    }
    html += "<h2>Failures</h2>\n" + Failures(options, runs);
    for (const auto& [name, chart] : all.charts) {
        html += "<h2>" + Xml(name) + "</h2>\n<figure class=\"scroll\">" +
                chart.Document(name, false) + "</figure>\n";
    }
    return html + "</body>\n</html>\n";
}

} // namespace zebcli
