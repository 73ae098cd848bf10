// The latency chart: for each pass or session, the percentiles of its operations' latency
// (50, 90, 99, 99.9) and the maximum, on a logarithmic axis.
#ifndef ZEBCLI_CHARTS_LATENCYCHART_H
#define ZEBCLI_CHARTS_LATENCYCHART_H

#include "charts/chartdata.h"
#include "charts/svg.h"

#include <optional>
#include <vector>

namespace zebcli::charts {

// Nothing when no run timed an operation.
std::optional<Canvas> LatencyChart(const std::vector<ChartRun>& runs);

} // namespace zebcli::charts

#endif
