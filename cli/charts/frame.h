// What the charts with value axes share: the plot area, its grid and its axes with their
// titles, the legend row.
#ifndef ZEBCLI_CHARTS_FRAME_H
#define ZEBCLI_CHARTS_FRAME_H

#include "charts/axis.h"
#include "charts/svg.h"

#include <string>

namespace zebcli::charts {

inline constexpr double kChartWidth = 960;
inline constexpr char kRateColour[] = "#1f5fbf";
inline constexpr char kOpsColour[] = "#d9730d";
inline constexpr char kFailColour[] = "#c8102e";
inline constexpr char kInkColour[] = "#222";

// The plot area in the canvas's coordinates.
struct Frame {
    double left = 90, right = 870, top = 24, bottom = 340;
    double Width() const { return right - left; }
    double Height() const { return bottom - top; }
    // The y of value on a linear axis from 0 to top.
    double Y(double value, double axisTop) const { return bottom - value / axisTop * Height(); }
};

enum class Side { Left, Right };

// The frame's border, and a value axis on one side: its ticks and labels, its title (with
// the unit; the unit alone for an empty title) turned along it; the left axis draws the grid.
void DrawValueAxis(Canvas& canvas, const Frame& frame, const LinearAxis& axis, Side side,
                   const char* colour, const std::string& title);
void DrawBorder(Canvas& canvas, const Frame& frame);

// Legend entries from left to right on one row at baseline y, each a symbol and its text;
// an entry that does not fit on the canvas is left out.
enum class Symbol { Line, DashedLine, Cross, Band };
class Legend {
  public:
    Legend(Canvas& canvas, double x, double y) : canvas_(canvas), x_(x), y_(y) {}
    void Add(Symbol symbol, const char* colour, const std::string& text);

  private:
    Canvas& canvas_;
    double x_, y_;
};

// A red cross centred on (x, y), 10 wide.
std::string Cross(double x, double y);

} // namespace zebcli::charts

#endif
