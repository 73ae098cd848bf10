#include "charts/sessionchart.h"

#include "charts/axis.h"
#include "charts/frame.h"

namespace zebcli::charts {

namespace {

constexpr double kRowHeight = 96;
constexpr double kLeft = 90;

} // namespace

Canvas SessionFigures(const std::vector<ChartRun>& sessions) {
    Canvas canvas(kChartWidth,
                  20 + kRowHeight * static_cast<double>(std::max<std::size_t>(1, sessions.size())));
    double y = 20;
    if (sessions.empty()) {
        canvas.Text("no session was run", {16, Anchor::Start, kInkColour}, {{kLeft, y + 30}});
    }
    for (const ChartRun& session : sessions) {
        const char* colour = session.passed ? kRateColour : kFailColour;
        canvas.Raw(
            Format("<g class=\"session\" data-outcome=\"%s\">", Xml(session.outcome).c_str()));
        canvas.Raw(Format("<rect x=\"%g\" y=\"%g\" width=\"6\" height=\"%g\" fill=\"%s\"/>",
                          kLeft - 16, y, kRowHeight - 24, colour));
        const std::string rate = session.bytesPerSecond
                                     ? ScaledText(*session.bytesPerSecond, kRateUnits)
                                     : std::string("no rate");
        const double rateWidth = TextWidth(rate, 30) * 1.1;
        canvas.Text(rate, {30, Anchor::Start, colour, true}, {{kLeft, y + 32}});
        canvas.Text(Shortened(session.name + ": " + session.outcome, 16,
                              kChartWidth - kLeft - rateWidth - 40),
                    {16, Anchor::Start, session.passed ? kInkColour : kFailColour},
                    {{kLeft + rateWidth + 20, y + 30}});
        std::string figures;
        for (const std::string& figure : session.figures) {
            figures += (figures.empty() ? "" : ", ") + figure;
        }
        canvas.Text(Shortened(figures, 14, kChartWidth - kLeft - 20), {14, Anchor::Start, "#444"},
                    {{kLeft, y + 58}});
        canvas.Raw("</g>\n");
        y += kRowHeight;
    }
    return canvas;
}

Canvas Heading(const std::string& title, const std::string& subtitle) {
    Canvas canvas(kChartWidth, 84);
    canvas.Text(Shortened(title, 20 * 1.1, kChartWidth - 40),
                {20, Anchor::Middle, kInkColour, true}, {{kChartWidth / 2, 38}});
    canvas.Text(Shortened(subtitle, 13, kChartWidth - 40), {13, Anchor::Middle, "#444"},
                {{kChartWidth / 2, 64}});
    return canvas;
}

} // namespace zebcli::charts
