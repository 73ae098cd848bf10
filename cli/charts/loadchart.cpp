#include "charts/loadchart.h"

#include "charts/axis.h"
#include "charts/frame.h"

#include <algorithm>

namespace zebcli::charts {

namespace {

constexpr double kHeight = 430;
constexpr char kP99Colour[] = "#d9730d";

} // namespace

Canvas LoadChart(const std::vector<LoadPoint>& points) {
    Canvas canvas(kChartWidth, kHeight);
    const Frame frame;
    double maxRate = 0;
    double maxP99 = 0;
    std::uint32_t most = 1;
    for (const LoadPoint& p : points) {
        maxRate = std::max(
            {maxRate, p.allRunningBytesPerSecond.value_or(0), p.wholeBytesPerSecond.value_or(0)});
        maxP99 = std::max(maxP99, static_cast<double>(p.p99Ns));
        most = std::max(most, p.clients);
    }
    const LinearAxis rate = MakeLinearAxis(maxRate, kRateUnits, kMegabytesPerSecond);
    const LinearAxis p99 = MakeLinearAxis(maxP99, kDurationUnits);
    DrawValueAxis(canvas, frame, rate, Side::Left, kRateColour, "rate of all clients");
    DrawValueAxis(canvas, frame, p99, Side::Right, kP99Colour, "99th percentile latency");
    DrawBorder(canvas, frame);
    // The numbers of clients along the axis, from 0 to the most.
    const auto x = [&](double clients) { return frame.left + clients / most * frame.Width(); };
    for (const LoadPoint& p : points) {
        const double px = x(p.clients);
        canvas.Raw(Format("<line x1=\"%.1f\" y1=\"%g\" x2=\"%.1f\" y2=\"%g\" stroke=\"#333\"/>\n",
                          px, frame.bottom, px, frame.bottom + 5));
        canvas.Text(Format("%u", p.clients), {13, Anchor::Middle}, {{px, frame.bottom + 22}});
    }
    canvas.Text("clients", {13, Anchor::Middle},
                {{(frame.left + frame.right) / 2, frame.bottom + 44}});
    std::string all;
    std::string whole;
    std::string latency;
    for (const LoadPoint& p : points) {
        const double px = x(p.clients);
        if (p.allRunningBytesPerSecond) {
            all += Format("%.1f,%.1f ", px, frame.Y(*p.allRunningBytesPerSecond, rate.top));
        }
        if (p.wholeBytesPerSecond) {
            whole += Format("%.1f,%.1f ", px, frame.Y(*p.wholeBytesPerSecond, rate.top));
        }
        latency += Format("%.1f,%.1f ", px, frame.Y(static_cast<double>(p.p99Ns), p99.top));
    }
    canvas.Raw(Format("<polyline points=\"%s\" fill=\"none\" stroke=\"%s\" stroke-width=\"2\"/>\n",
                      all.c_str(), kRateColour));
    canvas.Raw(Format("<polyline points=\"%s\" fill=\"none\" stroke=\"%s\" stroke-width=\"2\" "
                      "stroke-dasharray=\"6 4\"/>\n",
                      whole.c_str(), kRateColour));
    canvas.Raw(Format("<polyline points=\"%s\" fill=\"none\" stroke=\"%s\" stroke-width=\"2\" "
                      "stroke-dasharray=\"6 4\"/>\n",
                      latency.c_str(), kP99Colour));
    for (const LoadPoint& p : points) {
        const double px = x(p.clients);
        const double py = frame.Y(p.allRunningBytesPerSecond.value_or(0), rate.top);
        canvas.Raw(Format("<g class=\"load-point\" data-clients=\"%u\">", p.clients));
        canvas.Raw("<title>" +
                   Xml(Format("%u clients: ", p.clients) +
                       ScaledText(p.allRunningBytesPerSecond.value_or(0), kRateUnits) +
                       " while all ran, " +
                       ScaledText(p.wholeBytesPerSecond.value_or(0), kRateUnits) +
                       " over the whole, p99 " +
                       ScaledText(static_cast<double>(p.p99Ns), kDurationUnits)) +
                   "</title>");
        canvas.Raw(p.passed ? Format("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"4\" fill=\"%s\"/>", px,
                                     py, kRateColour)
                            : Cross(px, py));
        canvas.Raw("</g>\n");
    }
    Legend legend(canvas, frame.left, frame.bottom + 76);
    legend.Add(Symbol::Line, kRateColour, "while all clients ran");
    legend.Add(Symbol::DashedLine, kRateColour, "over the whole");
    legend.Add(Symbol::DashedLine, kP99Colour, "99th percentile latency");
    legend.Add(Symbol::Cross, kFailColour, "a client failed");
    return canvas;
}

} // namespace zebcli::charts
