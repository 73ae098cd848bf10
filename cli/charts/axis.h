// The scales of the charts: units that grow with the figures (MB/s to GB/s, ns to s), round
// tick values, and tick labels in one style per axis (the same number of decimals, the unit in
// the axis's title, never a "k" on some ticks and not on others).
#ifndef ZEBCLI_CHARTS_AXIS_H
#define ZEBCLI_CHARTS_AXIS_H

#include <cstddef>
#include <span>
#include <string>
#include <vector>

namespace zebcli::charts {

struct Unit {
    const char* name;
    double size; // in the family's base unit
};

// Rates in bytes per second, decimal (a MB is 10^6 bytes).
inline constexpr Unit kRateUnits[] = {
    {"B/s", 1}, {"kB/s", 1e3}, {"MB/s", 1e6}, {"GB/s", 1e9}, {"TB/s", 1e12}};
inline constexpr std::size_t kMegabytesPerSecond = 2; // the rate unit of an axis of zeros
inline constexpr Unit kOperationUnits[] = {
    {"operations/s", 1}, {"thousand operations/s", 1e3}, {"million operations/s", 1e6}};
// Durations in nanoseconds.
inline constexpr Unit kDurationUnits[] = {{"ns", 1}, {"\xC2\xB5s", 1e3}, {"ms", 1e6}, {"s", 1e9}};
inline constexpr Unit kSecondUnits[] = {{"s", 1}};

// A linear axis from 0 to top.
struct LinearAxis {
    Unit unit;
    double top = 1;                  // in the base unit
    std::vector<double> values;      // the ticks, in the base unit, from 0 to top
    std::vector<std::string> labels; // the ticks in unit, one style
    int decimals = 0;
};

// The axis that reaches maxValue (in the base unit) with at most maxTicks steps, in the
// largest unit of units in which maxValue is at least 1 (units[fallback] when maxValue is 0),
// and the tick values round (1, 2 or 5 times a power of ten) and below 1000 in that unit.
LinearAxis MakeLinearAxis(double maxValue, std::span<const Unit> units, std::size_t fallback = 0,
                          int maxTicks = 5);

// A logarithmic axis of durations (ns): the decades from below low to above high, labelled
// "1 µs", "10 µs", "100 µs", "1 ms", ...
struct LogAxis {
    double low = 1, high = 10;  // ns, powers of ten
    std::vector<double> values; // the decades
    std::vector<std::string> labels;
};
LogAxis MakeLogAxis(double lowNs, double highNs);

// A value with three significant digits in the largest unit of units in which it is at
// least 1: "523 MB/s", "1.23 GB/s", "12.3 µs".
std::string ScaledText(double value, std::span<const Unit> units);

} // namespace zebcli::charts

#endif
