// The time chart: the rate (left) and the 99th percentile of the operations' latency (right)
// interval by interval from the first pass's or session's start, the intervals with failures
// marked, each pass's or session's start a line with its name.
#ifndef ZEBCLI_CHARTS_TIMECHART_H
#define ZEBCLI_CHARTS_TIMECHART_H

#include "charts/chartdata.h"
#include "charts/svg.h"

#include <optional>
#include <vector>

namespace zebcli::charts {

// Nothing when no run has intervals.
std::optional<Canvas> TimeChart(const std::vector<ChartRun>& runs);

} // namespace zebcli::charts

#endif
