#include "charts/frame.h"

namespace zebcli::charts {

void DrawBorder(Canvas& canvas, const Frame& frame) {
    canvas.Raw(Format("<rect x=\"%g\" y=\"%g\" width=\"%g\" height=\"%g\" fill=\"none\" "
                      "stroke=\"#333\"/>\n",
                      frame.left, frame.top, frame.Width(), frame.Height()));
}

void DrawValueAxis(Canvas& canvas, const Frame& frame, const LinearAxis& axis, Side side,
                   const char* colour, const std::string& title) {
    const bool left = side == Side::Left;
    double widest = 0;
    for (std::size_t i = 0; i < axis.values.size(); ++i) {
        const double y = frame.Y(axis.values[i], axis.top);
        if (left) {
            canvas.Raw(Format("<line x1=\"%g\" y1=\"%.1f\" x2=\"%g\" y2=\"%.1f\" "
                              "stroke=\"#ddd\"/>\n",
                              frame.left, y, frame.right, y));
        }
        const double tick = left ? frame.left - 5 : frame.right;
        canvas.Raw(Format("<line x1=\"%g\" y1=\"%.1f\" x2=\"%g\" y2=\"%.1f\" stroke=\"%s\"/>\n",
                          tick, y, tick + 5, y, colour));
        TextStyle style{13, left ? Anchor::End : Anchor::Start, colour};
        canvas.Text(axis.labels[i], style, {{left ? frame.left - 8 : frame.right + 8, y + 4.5}});
        widest = std::max(widest, TextWidth(axis.labels[i], 13));
    }
    // The title beside the widest label, turned to read along the axis.
    const std::string text =
        title.empty() ? std::string(axis.unit.name) : title + " (" + axis.unit.name + ")";
    const double middle = (frame.top + frame.bottom) / 2;
    TextStyle style{13, Anchor::Middle, colour, false, left ? -90 : 90};
    const double x = left ? frame.left - 14 - widest - 4 : frame.right + 14 + widest + 4;
    canvas.Text(Shortened(text, 13, frame.Height()), style, {{x, middle}});
}

void Legend::Add(Symbol symbol, const char* colour, const std::string& text) {
    const double x = x_;
    const double y = y_ - 4;
    const double end = x + 30 + 8 + TextWidth(text, 13);
    if (end > canvas_.Width()) {
        return;
    }
    canvas_.Reserve({x, y - 6, 30, 12});
    if (!canvas_.Text(text, {13, Anchor::Start, kInkColour}, {{x + 38, y_}})) {
        return;
    }
    switch (symbol) {
    case Symbol::Line:
    case Symbol::DashedLine:
        canvas_.Raw(Format("<line x1=\"%g\" y1=\"%g\" x2=\"%g\" y2=\"%g\" stroke=\"%s\" "
                           "stroke-width=\"2\"%s/>\n",
                           x, y, x + 30, y, colour,
                           symbol == Symbol::DashedLine ? " stroke-dasharray=\"6 4\"" : ""));
        break;
    case Symbol::Cross:
        canvas_.Raw(Cross(x + 15, y));
        break;
    case Symbol::Band:
        canvas_.Raw(Format("<rect x=\"%g\" y=\"%g\" width=\"30\" height=\"12\" fill=\"%s\" "
                           "fill-opacity=\"0.18\"/>\n",
                           x, y - 6, colour));
        break;
    }
    x_ = end + 24;
}

std::string Cross(double x, double y) {
    return Format("<path d=\"M%.1f %.1fl10 10m0 -10l-10 10\" stroke=\"%s\" stroke-width=\"3\"/>",
                  x - 5, y - 5, kFailColour);
}

} // namespace zebcli::charts
