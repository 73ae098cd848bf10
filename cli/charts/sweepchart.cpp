#include "charts/sweepchart.h"

#include "charts/frame.h"

#include <algorithm>
#include <cmath>

namespace zebcli::charts {

namespace {

constexpr double kHeight = 430;

} // namespace

Canvas SweepChart(const std::vector<ChartRun>& passes) {
    Canvas canvas(kChartWidth, kHeight);
    const Frame frame;
    double maxRate = 0;
    double maxOps = 0;
    double low = 0;
    double high = 0;
    bool first = true;
    for (const ChartRun& pass : passes) {
        maxRate = std::max(maxRate, pass.bytesPerSecond.value_or(0));
        if (pass.clientRates) {
            maxRate = std::max(maxRate, pass.clientRates->second);
        }
        maxOps = std::max(maxOps, pass.operationsPerSecond.value_or(0));
        const double size = pass.bufferSize.value_or(0);
        low = first ? size : std::min(low, size);
        high = first ? size : std::max(high, size);
        first = false;
    }
    if (high - low < 1) { // one size: a range around it
        low = std::max(0.0, low - 1024);
        high += 1024;
    }
    const auto x = [&](double size) {
        return frame.left + (size - low) / (high - low) * frame.Width();
    };
    const LinearAxis rate = MakeLinearAxis(maxRate, kRateUnits, kMegabytesPerSecond);
    const LinearAxis ops = MakeLinearAxis(maxOps, kOperationUnits);

    DrawValueAxis(canvas, frame, rate, Side::Left, kRateColour, "rate");
    DrawValueAxis(canvas, frame, ops, Side::Right, kOpsColour, "");
    DrawBorder(canvas, frame);

    // The passes' own sizes along the axis, the ends first; a size whose label would touch
    // one already there is left out.
    std::vector<std::size_t> order(passes.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    if (order.size() > 1) {
        std::rotate(order.begin() + 1, order.end() - 1, order.end()); // first, last, the rest
    }
    for (std::size_t i : order) {
        const double px = x(passes[i].bufferSize.value_or(0));
        canvas.Raw(Format("<line x1=\"%.1f\" y1=\"%g\" x2=\"%.1f\" y2=\"%g\" stroke=\"#333\"/>\n",
                          px, frame.bottom, px, frame.bottom + 5));
        canvas.Text(Format("%u", passes[i].bufferSize.value_or(0)), {13, Anchor::Middle},
                    {{px, frame.bottom + 22}});
    }
    canvas.Text("buffer size (bytes)", {13, Anchor::Middle},
                {{(frame.left + frame.right) / 2, frame.bottom + 44}});

    // Several clients: the band of their own rates, lowest to highest, through the passes, and
    // at each pass a bar (all that shows of a sweep of one size).
    bool band = false;
    std::string upper;
    std::string lower;
    for (const ChartRun& pass : passes) {
        if (pass.clientRates) {
            const double px = x(pass.bufferSize.value_or(0));
            const double top = frame.Y(pass.clientRates->second, rate.top);
            const double bottom = frame.Y(pass.clientRates->first, rate.top);
            upper += Format("%.1f,%.1f ", px, top);
            lower.insert(0, Format("%.1f,%.1f ", px, bottom));
            canvas.Raw(Format("<rect class=\"clients\" x=\"%.1f\" y=\"%.1f\" width=\"10\" "
                              "height=\"%.1f\" fill=\"%s\" fill-opacity=\"0.18\" stroke=\"%s\" "
                              "stroke-opacity=\"0.5\"/>\n",
                              px - 5, top, std::max(bottom - top, 1.0), kRateColour, kRateColour));
            band = true;
        }
    }
    if (band) {
        canvas.Raw(Format("<polygon points=\"%s%s\" fill=\"%s\" fill-opacity=\"0.12\"/>\n",
                          upper.c_str(), lower.c_str(), kRateColour));
    }

    // The curves through the passes that have a rate.
    std::string ratePoints;
    std::string opsPoints;
    for (const ChartRun& pass : passes) {
        if (pass.bytesPerSecond && pass.operationsPerSecond) {
            const double px = x(pass.bufferSize.value_or(0));
            ratePoints += Format("%.1f,%.1f ", px, frame.Y(*pass.bytesPerSecond, rate.top));
            opsPoints += Format("%.1f,%.1f ", px, frame.Y(*pass.operationsPerSecond, ops.top));
        }
    }
    canvas.Raw(Format("<polyline points=\"%s\" fill=\"none\" stroke=\"%s\" stroke-width=\"2\"/>\n",
                      ratePoints.c_str(), kRateColour));
    canvas.Raw(Format("<polyline points=\"%s\" fill=\"none\" stroke=\"%s\" stroke-width=\"2\" "
                      "stroke-dasharray=\"6 4\"/>\n",
                      opsPoints.c_str(), kOpsColour));

    // One mark per pass; a pass that did not pass is a red cross at its rate (on the axis
    // without one), its outcome beside it where there is room.
    for (const ChartRun& pass : passes) {
        const double px = x(pass.bufferSize.value_or(0));
        const double py = frame.Y(pass.bytesPerSecond.value_or(0), rate.top);
        canvas.Raw(Format("<g class=\"pass\" data-buffer-size=\"%u\" data-outcome=\"%s\">",
                          pass.bufferSize.value_or(0), Xml(pass.outcome).c_str()));
        canvas.Raw("<title>" +
                   Xml(pass.name + ": " + pass.outcome + ", " +
                       ScaledText(pass.bytesPerSecond.value_or(0), kRateUnits) + ", " +
                       ScaledText(pass.operationsPerSecond.value_or(0), kOperationUnits)) +
                   "</title>");
        if (pass.passed) {
            canvas.Raw(Format("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"4\" fill=\"%s\"/>", px, py,
                              kRateColour));
            canvas.Raw(Format(
                "<rect x=\"%.1f\" y=\"%.1f\" width=\"7\" height=\"7\" fill=\"%s\"/>", px - 3.5,
                frame.Y(pass.operationsPerSecond.value_or(0), ops.top) - 3.5, kOpsColour));
        } else {
            canvas.Raw(Cross(px, py));
        }
        canvas.Raw("</g>\n");
    }
    for (const ChartRun& pass : passes) {
        if (pass.passed) {
            continue;
        }
        const double px = x(pass.bufferSize.value_or(0));
        const double py = frame.Y(pass.bytesPerSecond.value_or(0), rate.top);
        canvas.Reserve({px - 6, py - 6, 12, 12});
        // Inside the plot area, right of the mark while it fits, else left of it.
        const Box area{frame.left, frame.top, frame.Width(), frame.Height()};
        const auto inside = [&](Anchor anchor, double dx) {
            std::vector<Place> places;
            for (double up : {10.0, 28.0, 46.0, 64.0}) {
                const Place place{px + dx, py - up};
                if (TextBox(place, pass.outcome, {13, anchor}).Inside(area)) {
                    places.push_back(place);
                }
            }
            return places;
        };
        if (!canvas.Text(pass.outcome, {13, Anchor::Start, kFailColour},
                         inside(Anchor::Start, 9))) {
            canvas.Text(pass.outcome, {13, Anchor::End, kFailColour}, inside(Anchor::End, -9));
        }
    }

    Legend legend(canvas, frame.left, frame.bottom + 76);
    legend.Add(Symbol::Line, kRateColour,
               band ? "rate of all clients together, over the whole"
                    : "rate of the pass's operations");
    if (band) {
        legend.Add(Symbol::Band, kRateColour, "the clients' own rates, lowest to highest");
    }
    legend.Add(Symbol::DashedLine, kOpsColour, "operations per second");
    legend.Add(Symbol::Cross, kFailColour, "pass not passed");
    return canvas;
}

} // namespace zebcli::charts
