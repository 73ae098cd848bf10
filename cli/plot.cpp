#include "plot.h"

#include "summary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace zebcli {

namespace {

constexpr double kWidth = 960;
constexpr double kHeight = 600;
constexpr double kLeft = 100;
constexpr double kRight = 860;
constexpr double kTop = 110;
constexpr double kBottom = 500;
constexpr char kRateColour[] = "#1f5fbf";
constexpr char kOpsColour[] = "#d9730d";
constexpr char kFailColour[] = "#c8102e";

// Text for XML: markup characters escaped, control characters (not allowed in XML) replaced.
std::string Xml(std::string_view text) {
    std::string out;
    for (char c : BoardUtf8(text)) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
        }
    }
    return out;
}

std::string Format(const char* format, auto... values) {
    char text[512];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

// A number for an axis label: no trailing zeros, thousands as k, millions as M.
std::string Label(double value) {
    if (value >= 1e6) {
        return Format("%gM", value / 1e6);
    }
    if (value >= 1e4) {
        return Format("%gk", value / 1e3);
    }
    return Format("%g", value);
}

std::string Header(const std::string& title, const std::string& subtitle, double height = kHeight) {
    std::string svg = Format("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                             "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%g\" "
                             "height=\"%g\" viewBox=\"0 0 %g %g\" "
                             "font-family=\"DejaVu Sans, Arial, sans-serif\" font-size=\"13\">\n",
                             kWidth, height, kWidth, height);
    svg += Format("<rect width=\"%g\" height=\"%g\" fill=\"white\"/>\n", kWidth, height);
    svg += "<title>" + Xml(title) + "</title>\n";
    svg += Format("<text x=\"%g\" y=\"40\" text-anchor=\"middle\" font-size=\"20\" "
                  "font-weight=\"bold\">",
                  kWidth / 2) +
           Xml(title) + "</text>\n";
    svg += Format("<text x=\"%g\" y=\"66\" text-anchor=\"middle\" fill=\"#444\">", kWidth / 2) +
           Xml(subtitle) + "</text>\n";
    return svg;
}

std::string Date(const std::string& timestamp) {
    // "2026-12-09T05:40:12.345Z" -> "2026-12-09 05:40 UTC"
    return timestamp.size() >= 16 ? timestamp.substr(0, 10) + " " + timestamp.substr(11, 5) + " UTC"
                                  : timestamp;
}

std::string SweepSvg(const Options& options, const RunContext& context,
                     const std::vector<RunRecord>& runs) {
    const std::string fileSystem =
        context.fileSystem ? context.fileSystem->type + " (" + context.fileSystem->mountPoint + ")"
                           : DescribeTarget(options).backend;
    std::string svg = Header(options.modeText + " on " + fileSystem + ", " + Date(context.start),
                             options.path + ": " + std::to_string(options.iteration) +
                                 " iterations per pass, cache " + options.cacheText + ", " +
                                 std::to_string(runs.size()) + " passes");
    double maxRate = 0;
    double maxOps = 0;
    std::uint32_t low = UINT32_MAX;
    std::uint32_t high = 0;
    for (const RunRecord& run : runs) {
        maxRate = std::max(maxRate, run.BytesPerSecond().value_or(0) / 1e6);
        maxOps = std::max(maxOps, run.OperationsPerSecond().value_or(0));
        low = std::min(low, run.bufferSize.value_or(0));
        high = std::max(high, run.bufferSize.value_or(0));
    }
    const double rateTop = NiceCeiling(maxRate);
    const double opsTop = NiceCeiling(maxOps);
    if (runs.empty() || low == high) {
        low = runs.empty() ? 0 : low - std::min<std::uint32_t>(low, 1024);
        high = runs.empty() ? 1024 : high + 1024;
    }
    const auto x = [&](double size) {
        return kLeft + (size - low) / static_cast<double>(high - low) * (kRight - kLeft);
    };
    const auto yRate = [&](double v) { return kBottom - v / rateTop * (kBottom - kTop); };
    const auto yOps = [&](double v) { return kBottom - v / opsTop * (kBottom - kTop); };

    // Grid and axes: MB/s on the left, operations per second on the right.
    for (int i = 0; i <= 5; ++i) {
        const double y = kBottom - i * (kBottom - kTop) / 5;
        svg += Format("<line x1=\"%g\" y1=\"%g\" x2=\"%g\" y2=\"%g\" stroke=\"#ddd\"/>\n", kLeft, y,
                      kRight, y);
        svg += Format("<text x=\"%g\" y=\"%g\" text-anchor=\"end\" fill=\"%s\">%s</text>\n",
                      kLeft - 8, y + 4, kRateColour, Label(rateTop * i / 5).c_str());
        svg += Format("<text x=\"%g\" y=\"%g\" fill=\"%s\">%s</text>\n", kRight + 8, y + 4,
                      kOpsColour, Label(opsTop * i / 5).c_str());
    }
    svg += Format("<rect x=\"%g\" y=\"%g\" width=\"%g\" height=\"%g\" fill=\"none\" "
                  "stroke=\"#333\"/>\n",
                  kLeft, kTop, kRight - kLeft, kBottom - kTop);
    // The passes' own sizes along the axis while they can be read apart, else six even steps.
    std::vector<double> ticks;
    if (runs.size() >= 2 && runs.size() <= 12) {
        for (const RunRecord& run : runs) {
            ticks.push_back(run.bufferSize.value_or(0));
        }
    } else {
        for (int i = 0; i <= 6; ++i) {
            ticks.push_back(std::round(low + (high - low) * i / 6.0));
        }
    }
    for (double size : ticks) {
        svg += Format("<line x1=\"%g\" y1=\"%g\" x2=\"%g\" y2=\"%g\" stroke=\"#333\"/>"
                      "<text x=\"%g\" y=\"%g\" text-anchor=\"middle\">%.0f</text>\n",
                      x(size), kBottom, x(size), kBottom + 5, x(size), kBottom + 20, size);
    }
    svg += Format("<text x=\"%g\" y=\"%g\" text-anchor=\"middle\">buffer size (bytes)</text>\n",
                  (kLeft + kRight) / 2, kBottom + 44);
    svg += Format("<text transform=\"translate(%g %g) rotate(-90)\" text-anchor=\"middle\" "
                  "fill=\"%s\">MB/s (10^6 bytes per second)</text>\n",
                  kLeft - 62, (kTop + kBottom) / 2, kRateColour);
    svg += Format("<text transform=\"translate(%g %g) rotate(90)\" text-anchor=\"middle\" "
                  "fill=\"%s\">operations per second</text>\n",
                  kRight + 66, (kTop + kBottom) / 2, kOpsColour);

    // The curves through the passes that have a rate.
    std::string ratePoints;
    std::string opsPoints;
    for (const RunRecord& run : runs) {
        if (run.BytesPerSecond() && run.OperationsPerSecond()) {
            ratePoints +=
                Format("%.1f,%.1f ", x(*run.bufferSize), yRate(*run.BytesPerSecond() / 1e6));
            opsPoints += Format("%.1f,%.1f ", x(*run.bufferSize), yOps(*run.OperationsPerSecond()));
        }
    }
    svg += Format("<polyline points=\"%s\" fill=\"none\" stroke=\"%s\" stroke-width=\"2\"/>\n",
                  ratePoints.c_str(), kRateColour);
    svg += Format("<polyline points=\"%s\" fill=\"none\" stroke=\"%s\" stroke-width=\"2\" "
                  "stroke-dasharray=\"6 4\"/>\n",
                  opsPoints.c_str(), kOpsColour);

    // One mark per pass; a pass that did not pass is a red cross on the axis or at its rate.
    for (const RunRecord& run : runs) {
        const double px = x(run.bufferSize.value_or(0));
        svg += Format("<g class=\"pass\" data-buffer-size=\"%u\" data-outcome=\"%s\">",
                      run.bufferSize.value_or(0), Xml(run.outcome).c_str());
        svg += "<title>" +
               Xml(Format("buffer %u: %s, %.2f MB/s, %.0f operations/s", run.bufferSize.value_or(0),
                          run.outcome.c_str(), run.BytesPerSecond().value_or(0) / 1e6,
                          run.OperationsPerSecond().value_or(0))) +
               "</title>";
        if (run.Passed()) {
            svg += Format("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"4\" fill=\"%s\"/>", px,
                          yRate(run.BytesPerSecond().value_or(0) / 1e6), kRateColour);
            svg += Format("<rect x=\"%.1f\" y=\"%.1f\" width=\"7\" height=\"7\" fill=\"%s\"/>",
                          px - 3.5, yOps(run.OperationsPerSecond().value_or(0)) - 3.5, kOpsColour);
        } else {
            const double py = yRate(run.BytesPerSecond().value_or(0) / 1e6);
            svg += Format("<path d=\"M%.1f %.1fl10 10m0 -10l-10 10\" stroke=\"%s\" "
                          "stroke-width=\"3\"/>",
                          px - 5, py - 5, kFailColour);
            svg += Format("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"start\" fill=\"%s\">%s</text>",
                          px + 8, py - 12, kFailColour, Xml(run.outcome).c_str());
        }
        svg += "</g>\n";
    }

    // The legend.
    const double ly = kBottom + 76;
    svg += Format("<line x1=\"%g\" y1=\"%g\" x2=\"%g\" y2=\"%g\" stroke=\"%s\" "
                  "stroke-width=\"2\"/><circle cx=\"%g\" cy=\"%g\" r=\"4\" fill=\"%s\"/>"
                  "<text x=\"%g\" y=\"%g\">MB/s of the pass's operations</text>\n",
                  kLeft, ly, kLeft + 30, ly, kRateColour, kLeft + 15, ly, kRateColour, kLeft + 38,
                  ly + 4);
    svg +=
        Format("<line x1=\"%g\" y1=\"%g\" x2=\"%g\" y2=\"%g\" stroke=\"%s\" stroke-width=\"2\" "
               "stroke-dasharray=\"6 4\"/><text x=\"%g\" y=\"%g\">operations per second</text>\n",
               kLeft + 300, ly, kLeft + 330, ly, kOpsColour, kLeft + 338, ly + 4);
    svg += Format("<path d=\"M%g %gl10 10m0 -10l-10 10\" stroke=\"%s\" stroke-width=\"3\"/>"
                  "<text x=\"%g\" y=\"%g\">pass not passed</text>\n",
                  kLeft + 540, ly - 5, kFailColour, kLeft + 558, ly + 4);
    return svg + "</svg>\n";
}

std::string SessionSvg(const Options& options, const RunContext& context,
                       const std::vector<RunRecord>& runs) {
    const bool sending = options.command == Command::Send;
    std::string svg = Header(
        std::string("NetBIOS session stress, ") + (sending ? "sender" : "receiver") + " on " +
            context.host + ", " + Date(context.start),
        sending ? Format("%d blocks of %u bytes requested", options.blocks, options.bufferSize)
                : std::string("until the sender hung up"),
        kTop + 240);
    double top = 0;
    for (const RunRecord& run : runs) {
        top = std::max(top, run.BytesPerSecond().value_or(0) / 1e6);
    }
    top = NiceCeiling(top);
    for (int i = 0; i <= 5; ++i) {
        const double x = kLeft + i * (kRight - kLeft) / 5;
        svg += Format("<line x1=\"%g\" y1=\"%g\" x2=\"%g\" y2=\"%g\" stroke=\"#ddd\"/>"
                      "<text x=\"%g\" y=\"%g\" text-anchor=\"middle\">%s</text>\n",
                      x, kTop, x, kTop + 160, x, kTop + 180, Label(top * i / 5).c_str());
    }
    svg += Format("<text x=\"%g\" y=\"%g\" text-anchor=\"middle\">MB/s (10^6 bytes per "
                  "second)</text>\n",
                  (kLeft + kRight) / 2, kTop + 204);
    double y = kTop + 30;
    for (const RunRecord& run : runs) {
        const double rate = run.BytesPerSecond().value_or(0) / 1e6;
        const bool passed = run.Passed();
        svg += Format("<g class=\"session\" data-outcome=\"%s\">", Xml(run.outcome).c_str());
        svg += Format("<rect x=\"%g\" y=\"%g\" width=\"%.1f\" height=\"60\" fill=\"%s\"/>", kLeft,
                      y, rate / top * (kRight - kLeft), passed ? kRateColour : kFailColour);
        svg += Format("<text x=\"%g\" y=\"%g\" font-size=\"16\">", kLeft + 10, y + 90) +
               Xml(Format("%.2f MB/s, %llu blocks, %llu bytes in %.3f s: %s", rate,
                          static_cast<unsigned long long>(run.blocks.value_or(0)),
                          static_cast<unsigned long long>(run.transferBytes.value_or(0)),
                          run.transferSeconds.value_or(0), run.outcome.c_str())) +
               "</text></g>\n";
        y += 120;
    }
    return svg + "</svg>\n";
}

} // namespace

double NiceCeiling(double value) {
    if (!(value > 0) || !std::isfinite(value)) {
        return 1;
    }
    const double power = std::pow(10.0, std::floor(std::log10(value)));
    for (double step : {1.0, 2.0, 5.0, 10.0}) {
        if (step * power >= value) {
            return step * power;
        }
    }
    return 10 * power;
}

std::string ResultsSvg(const Options& options, const RunContext& context,
                       const std::vector<RunRecord>& runs) {
    return options.command == Command::FileIo ? SweepSvg(options, context, runs)
                                              : SessionSvg(options, context, runs);
}

} // namespace zebcli
