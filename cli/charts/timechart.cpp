#include "charts/timechart.h"

#include "charts/frame.h"

#include <algorithm>

namespace zebcli::charts {

namespace {

constexpr double kHeight = 430;
constexpr char kP99Colour[] = "#d9730d";
constexpr char kStallColour[] = "#555555";

double Rate(const Interval& interval) {
    return interval.seconds > 0 ? interval.bytes / interval.seconds : 0;
}

} // namespace

std::optional<Canvas> TimeChart(const std::vector<ChartRun>& runs) {
    double end = 0;
    double maxRate = 0;
    double maxP99 = 0;
    bool any = false;
    for (const ChartRun& run : runs) {
        for (const Interval& interval : run.intervals) {
            any = true;
            end = std::max(end, run.startSeconds + interval.startSeconds + interval.seconds);
            maxRate = std::max(maxRate, Rate(interval));
            if (interval.clientRates) {
                maxRate = std::max(maxRate, interval.clientRates->second);
            }
            maxP99 = std::max(maxP99, static_cast<double>(interval.p99Ns));
        }
    }
    if (!any) {
        return std::nullopt;
    }
    Canvas canvas(kChartWidth, kHeight);
    const Frame frame;
    const LinearAxis time = MakeLinearAxis(end, kSecondUnits, 0, 10);
    const LinearAxis rate = MakeLinearAxis(maxRate, kRateUnits, kMegabytesPerSecond);
    const LinearAxis p99 = MakeLinearAxis(maxP99, kDurationUnits);
    const auto x = [&](double seconds) { return frame.left + seconds / time.top * frame.Width(); };

    // Under everything else: the intervals with failures, and those in which no operation
    // ended (a stall: the slow operation lands in the interval where it ended).
    bool stalls = false;
    for (const ChartRun& run : runs) {
        for (const Interval& interval : run.intervals) {
            const bool stall = interval.operations == 0;
            if (interval.failures == 0 && !stall) {
                continue;
            }
            stalls = stalls || stall;
            const double at = run.startSeconds + interval.startSeconds;
            const double from = x(at);
            const double width = std::max(2.0, x(at + interval.seconds) - from);
            const std::string title =
                interval.failures > 0
                    ? Format("%llu failed at %.1f s",
                             static_cast<unsigned long long>(interval.failures), at)
                    : Format("no operation ended from %.1f s to %.1f s", at, at + interval.seconds);
            canvas.Raw(Format("<rect class=\"%s\" x=\"%.1f\" y=\"%g\" width=\"%.1f\" "
                              "height=\"%g\" fill=\"%s\" fill-opacity=\"0.18\"><title>%s</title>"
                              "</rect>\n",
                              interval.failures > 0 ? "failures" : "stall", from, frame.top, width,
                              frame.Height(), interval.failures > 0 ? kFailColour : kStallColour,
                              Xml(title).c_str()));
        }
    }
    DrawValueAxis(canvas, frame, rate, Side::Left, kRateColour, "rate");
    DrawValueAxis(canvas, frame, p99, Side::Right, kP99Colour, "99th percentile latency");
    DrawBorder(canvas, frame);
    for (std::size_t i = 0; i < time.values.size(); ++i) {
        const double px = x(time.values[i]);
        canvas.Raw(Format("<line x1=\"%.1f\" y1=\"%g\" x2=\"%.1f\" y2=\"%g\" stroke=\"#333\"/>\n",
                          px, frame.bottom, px, frame.bottom + 5));
        canvas.Text(time.labels[i], {13, Anchor::Middle}, {{px, frame.bottom + 22}});
    }
    canvas.Text("time since the first start (s)", {13, Anchor::Middle},
                {{(frame.left + frame.right) / 2, frame.bottom + 44}});

    // Each run: where it starts, and its intervals as steps.
    bool band = false;
    for (const ChartRun& run : runs) {
        if (run.intervals.empty()) {
            continue;
        }
        const double start = x(run.startSeconds);
        canvas.Raw(Format("<line x1=\"%.1f\" y1=\"%g\" x2=\"%.1f\" y2=\"%g\" stroke=\"#999\" "
                          "stroke-dasharray=\"2 3\"/>\n",
                          start, frame.top, start, frame.bottom));
        canvas.Text(run.name, {11, Anchor::Start, run.passed ? "#555" : kFailColour},
                    {{start + 3, frame.top + 13}, {start + 3, frame.top + 27}});
        // Of several clients: the band of their own rates, lowest to highest, under the rate
        // of them all.
        std::string upper;
        std::string lower;
        for (const Interval& interval : run.intervals) {
            if (!interval.clientRates) {
                continue;
            }
            const double from = x(run.startSeconds + interval.startSeconds);
            const double to = x(run.startSeconds + interval.startSeconds + interval.seconds);
            const double top = frame.Y(interval.clientRates->second, rate.top);
            const double bottom = frame.Y(interval.clientRates->first, rate.top);
            upper += Format("%.1f,%.1f %.1f,%.1f ", from, top, to, top);
            lower.insert(0, Format("%.1f,%.1f %.1f,%.1f ", to, bottom, from, bottom));
        }
        if (!upper.empty()) {
            band = true;
            canvas.Raw(Format("<polygon class=\"clients\" points=\"%s%s\" fill=\"%s\" "
                              "fill-opacity=\"0.15\"/>\n",
                              upper.c_str(), lower.c_str(), kRateColour));
        }
        std::string ratePoints;
        // The latency line breaks over an interval without operations (the check after a
        // pass): it has no latency, not one of 0.
        std::vector<std::string> p99Lines(1);
        for (const Interval& interval : run.intervals) {
            const double from = x(run.startSeconds + interval.startSeconds);
            const double to = x(run.startSeconds + interval.startSeconds + interval.seconds);
            const double r = frame.Y(Rate(interval), rate.top);
            const double p = frame.Y(static_cast<double>(interval.p99Ns), p99.top);
            ratePoints += Format("%.1f,%.1f %.1f,%.1f ", from, r, to, r);
            if (interval.operations == 0) {
                p99Lines.emplace_back();
            } else {
                p99Lines.back() += Format("%.1f,%.1f %.1f,%.1f ", from, p, to, p);
            }
        }
        canvas.Raw(Format("<polyline points=\"%s\" fill=\"none\" stroke=\"%s\" "
                          "stroke-width=\"2\"/>\n",
                          ratePoints.c_str(), kRateColour));
        for (const std::string& points : p99Lines) {
            if (!points.empty()) {
                canvas.Raw(Format("<polyline points=\"%s\" fill=\"none\" stroke=\"%s\" "
                                  "stroke-width=\"1.5\" stroke-dasharray=\"5 3\"/>\n",
                                  points.c_str(), kP99Colour));
            }
        }
    }

    Legend legend(canvas, frame.left, frame.bottom + 76);
    legend.Add(Symbol::Line, kRateColour,
               band ? "rate of all clients in the interval" : "rate in the interval");
    if (band) {
        legend.Add(Symbol::Band, kRateColour, "the clients' own, lowest to highest");
    }
    legend.Add(Symbol::DashedLine, kP99Colour, "99th percentile latency");
    legend.Add(Symbol::Band, kFailColour, "interval with failures");
    if (stalls) {
        legend.Add(Symbol::Band, kStallColour, "no operation ended");
    }
    return canvas;
}

} // namespace zebcli::charts
