#include "charts/latencychart.h"

#include "charts/frame.h"

#include <algorithm>
#include <cmath>

namespace zebcli::charts {

namespace {

constexpr double kHeight = 430;

struct Series {
    double percent; // 100: the maximum
    const char* colour;
    const char* name;
};
constexpr Series kSeries[] = {{50, "#1f5fbf", "50th percentile"},
                              {90, "#2a9d8f", "90th"},
                              {99, "#d9730d", "99th"},
                              {99.9, "#8e44ad", "99.9th"},
                              {100, "#444444", "maximum"}};

std::optional<std::uint64_t> Value(const Latency& latency, double percent) {
    return percent >= 100 ? std::optional<std::uint64_t>(latency.maxNs) : latency.At(percent);
}

} // namespace

std::optional<Canvas> LatencyChart(const std::vector<ChartRun>& runs) {
    std::vector<const ChartRun*> timed;
    double low = 0;
    double high = 0;
    for (const ChartRun& run : runs) {
        if (run.latency && run.latency->count > 0) {
            const double least =
                static_cast<double>(std::max<std::uint64_t>(1, run.latency->minNs));
            low = timed.empty() ? least : std::min(low, least);
            high = std::max(high, static_cast<double>(run.latency->maxNs));
            timed.push_back(&run);
        }
    }
    if (timed.empty()) {
        return std::nullopt;
    }
    Canvas canvas(kChartWidth, kHeight);
    const Frame frame;
    const LogAxis axis = MakeLogAxis(low, high);
    const auto y = [&](double ns) {
        const double at = std::log10(std::max(1.0, ns));
        return frame.bottom - (at - std::log10(axis.low)) /
                                  (std::log10(axis.high) - std::log10(axis.low)) * frame.Height();
    };
    // The runs side by side, each in the middle of its own slot.
    const double slot = frame.Width() / static_cast<double>(timed.size());
    const auto x = [&](std::size_t i) { return frame.left + slot * (i + 0.5); };

    double widest = 0;
    for (std::size_t i = 0; i < axis.values.size(); ++i) {
        const double py = y(axis.values[i]);
        canvas.Raw(Format("<line x1=\"%g\" y1=\"%.1f\" x2=\"%g\" y2=\"%.1f\" stroke=\"#ddd\"/>\n",
                          frame.left, py, frame.right, py));
        canvas.Text(axis.labels[i], {13, Anchor::End}, {{frame.left - 8, py + 4.5}});
        widest = std::max(widest, TextWidth(axis.labels[i], 13));
    }
    canvas.Text(timed.front()->bufferSize ? "latency of one operation (logarithmic)"
                                          : "latency of one block (logarithmic)",
                {13, Anchor::Middle, kInkColour, false, -90},
                {{frame.left - 22 - widest, (frame.top + frame.bottom) / 2}});
    DrawBorder(canvas, frame);
    std::vector<std::size_t> order(timed.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    if (order.size() > 1) {
        std::rotate(order.begin() + 1, order.end() - 1, order.end()); // first, last, the rest
    }
    for (std::size_t i : order) {
        canvas.Text(timed[i]->name,
                    {13, Anchor::Middle, timed[i]->passed ? kInkColour : kFailColour},
                    {{x(i), frame.bottom + 22}});
    }
    canvas.Text(timed.front()->bufferSize ? "buffer size (bytes)" : "session", {13, Anchor::Middle},
                {{(frame.left + frame.right) / 2, frame.bottom + 44}});

    for (const Series& series : kSeries) {
        std::string points;
        std::string dots;
        for (std::size_t i = 0; i < timed.size(); ++i) {
            if (const auto value = Value(*timed[i]->latency, series.percent)) {
                const double py = y(static_cast<double>(*value));
                points += Format("%.1f,%.1f ", x(i), py);
                dots += Format("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"3\" fill=\"%s\"><title>%s: "
                               "%s</title></circle>",
                               x(i), py, series.colour, Xml(timed[i]->name).c_str(),
                               ScaledText(static_cast<double>(*value), kDurationUnits).c_str());
            }
        }
        canvas.Raw(Format("<polyline points=\"%s\" fill=\"none\" stroke=\"%s\" "
                          "stroke-width=\"1.5\"/>\n",
                          points.c_str(), series.colour));
        canvas.Raw(dots + "\n");
    }

    Legend legend(canvas, frame.left, frame.bottom + 76);
    for (const Series& series : kSeries) {
        legend.Add(Symbol::Line, series.colour, series.name);
    }
    return canvas;
}

} // namespace zebcli::charts
