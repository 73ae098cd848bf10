#include "plot.h"

#include "charts/frame.h"
#include "charts/latencychart.h"
#include "charts/loadchart.h"
#include "charts/sessionchart.h"
#include "charts/sweepchart.h"
#include "charts/timechart.h"

#include <cstdio>
#include <ctime>
#include <optional>

namespace zebcli {

namespace {

using charts::Format;

std::string Date(const std::string& timestamp) {
    // "2026-12-09T05:40:12.345Z" -> "2026-12-09 05:40 UTC"
    return timestamp.size() >= 16 ? timestamp.substr(0, 10) + " " + timestamp.substr(11, 5) + " UTC"
                                  : timestamp;
}

// Seconds since the epoch of a timestamp as RunRecord::start has it; nothing for another text.
std::optional<double> Seconds(const std::string& timestamp) {
    std::tm utc{};
    int millis = 0;
    if (std::sscanf(timestamp.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3dZ", &utc.tm_year, &utc.tm_mon,
                    &utc.tm_mday, &utc.tm_hour, &utc.tm_min, &utc.tm_sec, &millis) != 7) {
        return std::nullopt;
    }
    utc.tm_year -= 1900;
    utc.tm_mon -= 1;
    return static_cast<double>(timegm(&utc)) + millis / 1000.0;
}

} // namespace

std::string TargetText(const Options& options, const RunContext& context) {
    if (context.fileSystem) {
        return context.fileSystem->type + " (" + context.fileSystem->mountPoint + ")";
    }
    const TestTarget target = DescribeTarget(options);
    return target.server ? target.backend + " server " + *target.server : target.backend;
}

std::vector<charts::ChartRun> ChartRuns(const Options& options,
                                        const std::vector<RunRecord>& runs) {
    std::vector<charts::ChartRun> out;
    const std::optional<double> first = runs.empty() ? std::nullopt : Seconds(runs.front().start);
    for (const RunRecord& run : runs) {
        charts::ChartRun chart;
        chart.bufferSize = run.bufferSize;
        chart.name = run.bufferSize ? std::to_string(*run.bufferSize)
                                    : "session " + std::to_string(out.size() + 1);
        chart.passed = run.Passed();
        chart.outcome = run.OutcomeText();
        const std::optional<double> start = Seconds(run.start);
        chart.startSeconds = first && start ? *start - *first : 0;
        chart.bytesPerSecond = run.BytesPerSecond();
        chart.operationsPerSecond = run.OperationsPerSecond();
        if (options.command != Command::FileIo) {
            chart.figures.push_back(
                Format("%llu blocks", static_cast<unsigned long long>(run.blocks.value_or(0))));
            chart.figures.push_back(Format(
                "%llu bytes", static_cast<unsigned long long>(run.transferBytes.value_or(0))));
            chart.figures.push_back(Format("%.3f s", run.transferSeconds.value_or(0)));
            if (!run.engineRate.empty()) {
                chart.figures.push_back("the engine's rate " + run.engineRate);
            }
        }
        for (const IntervalRecord& interval : run.intervals) {
            chart.intervals.push_back({interval.startSeconds, interval.seconds, interval.operations,
                                       interval.bytes, interval.failures, interval.p50Ns,
                                       interval.p99Ns, interval.maxNs, interval.clientRates});
        }
        // Reads and writes (or the blocks) together: the latency of the run's operations.
        histogram::Histogram all;
        for (const auto& [kind, latency] : run.latency) {
            all.Merge(latency);
        }
        if (all.Count() > 0) {
            charts::Latency latency{all.Count(), all.Min(), all.Max(), {}};
            for (double percent : histogram::kPercentiles) {
                latency.percentiles.emplace_back(percent, all.Percentile(percent));
            }
            chart.latency = std::move(latency);
        }
        out.push_back(std::move(chart));
    }
    return out;
}

RunCharts ChartsOf(const Options& options, const RunContext& context,
                   const std::vector<RunRecord>& runs) {
    RunCharts result;
    std::vector<charts::ChartRun> chartRuns = ChartRuns(options, runs);
    for (std::size_t i = 0; i < chartRuns.size() && i < context.clientPasses.size(); ++i) {
        chartRuns[i].clientRates = context.clientPasses[i].clientRates;
    }
    const std::string count = std::to_string(runs.size());
    if (options.command == Command::FileIo) {
        result.title =
            options.modeText + " on " + TargetText(options, context) + ", " + Date(context.start);
        result.subtitle =
            options.path + ": " + std::to_string(options.iteration) +
            " iterations per pass, cache " + DescribeTarget(options).cache + ", " + count +
            (runs.size() == 1 ? " pass" : " passes") +
            (context.clients > 0 ? " of " + std::to_string(context.clients) + " clients together"
                                 : "");
        if (!context.loadPoints.empty()) {
            result.charts.emplace_back("The load points", charts::LoadChart(context.loadPoints));
        }
        result.charts.emplace_back("The sweep", charts::SweepChart(chartRuns));
    } else {
        const bool sending = options.command == Command::Send;
        result.title = std::string("NetBIOS session stress, ") + (sending ? "sender" : "receiver") +
                       " on " + context.host + ", " + Date(context.start);
        result.subtitle =
            sending ? Format("%d blocks of %u bytes requested", options.blocks, options.bufferSize)
                    : std::string("until the sender hung up");
        result.charts.emplace_back(sending ? "The sessions sent" : "The sessions received",
                                   charts::SessionFigures(chartRuns));
    }
    if (auto time = charts::TimeChart(chartRuns)) {
        result.charts.emplace_back("Over time", std::move(*time));
    }
    if (auto latency = charts::LatencyChart(chartRuns)) {
        result.charts.emplace_back("Latency", std::move(*latency));
    }
    return result;
}

std::string ResultsSvg(const Options& options, const RunContext& context,
                       const std::vector<RunRecord>& runs) {
    const RunCharts all = ChartsOf(options, context, runs);
    const charts::Canvas heading = charts::Heading(all.title, all.subtitle);
    double height = heading.Height();
    std::string body = heading.Group(0, 0);
    for (const auto& [name, chart] : all.charts) {
        // Each chart under a heading of its own, left-aligned.
        body +=
            Format("<text x=\"24\" y=\"%g\" font-size=\"16\" font-weight=\"bold\">", height + 22) +
            charts::Xml(name) + "</text>\n";
        height += 34;
        body += chart.Group(0, height);
        height += chart.Height();
    }
    charts::Canvas page(charts::kChartWidth, height + 10);
    page.Raw(body);
    return page.Document(all.title, true);
}

} // namespace zebcli
