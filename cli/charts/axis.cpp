#include "charts/axis.h"

#include "charts/svg.h"

#include <algorithm>
#include <cmath>

namespace zebcli::charts {

namespace {

// The largest unit in which value is at least 1 (the first for a value below 1).
std::size_t UnitFor(double value, std::span<const Unit> units) {
    std::size_t chosen = 0;
    for (std::size_t i = 0; i < units.size(); ++i) {
        if (units[i].size <= value) {
            chosen = i;
        }
    }
    return chosen;
}

// The smallest round step (1, 2 or 5 times a power of ten) that reaches value in maxTicks.
double RoundStep(double value, int maxTicks) {
    const double power = std::pow(10.0, std::floor(std::log10(value / maxTicks)));
    for (double step : {1.0, 2.0, 5.0, 10.0}) {
        if (std::ceil(value / (step * power) - 1e-9) <= maxTicks) {
            return step * power;
        }
    }
    return 10 * power;
}

} // namespace

LinearAxis MakeLinearAxis(double maxValue, std::span<const Unit> units, std::size_t fallback,
                          int maxTicks) {
    const bool any = maxValue > 0 && std::isfinite(maxValue);
    std::size_t unit = any ? UnitFor(maxValue, units) : std::min(fallback, units.size() - 1);
    double inUnit = any ? maxValue / units[unit].size : 1;
    double step = RoundStep(inUnit, maxTicks);
    double top = std::ceil(inUnit / step - 1e-9) * step;
    // 999.5 MB/s would reach 1000 MB/s: that is 1 GB/s.
    if (top >= 1000 && unit + 1 < units.size()) {
        inUnit = maxValue / units[++unit].size;
        step = RoundStep(inUnit, maxTicks);
        top = std::ceil(inUnit / step - 1e-9) * step;
    }
    LinearAxis axis;
    axis.unit = units[unit];
    axis.top = top * axis.unit.size;
    axis.decimals = std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9)));
    const int steps = static_cast<int>(std::lround(top / step));
    for (int i = 0; i <= steps; ++i) {
        axis.values.push_back(i * step * axis.unit.size);
        axis.labels.push_back(Format("%.*f", axis.decimals, i * step));
    }
    return axis;
}

LogAxis MakeLogAxis(double lowNs, double highNs) {
    LogAxis axis;
    const double low = std::floor(std::log10(std::max(1.0, lowNs)));
    const double high = std::max(low + 1, std::ceil(std::log10(std::max(1.0, highNs))));
    axis.low = std::pow(10.0, low);
    axis.high = std::pow(10.0, high);
    for (double decade = low; decade <= high; ++decade) {
        const double value = std::pow(10.0, decade);
        const Unit& unit = kDurationUnits[UnitFor(value, kDurationUnits)];
        axis.values.push_back(value);
        axis.labels.push_back(Format("%g %s", value / unit.size, unit.name));
    }
    return axis;
}

std::string ScaledText(double value, std::span<const Unit> units) {
    if (!std::isfinite(value)) {
        return "-";
    }
    std::size_t unit = UnitFor(value, units);
    double inUnit = value / units[unit].size;
    // 999.7 rounds to 1000: shown as 1.00 of the next unit.
    if (inUnit >= 999.5 && unit + 1 < units.size()) {
        inUnit = value / units[++unit].size;
    }
    const int decimals = inUnit >= 100 || (unit == 0 && inUnit >= 1) ? 0 : (inUnit >= 10 ? 1 : 2);
    return Format("%.*f %s", decimals, inUnit, units[unit].name);
}

} // namespace zebcli::charts
