// The load points of zebcli fileio --clients N,M,...: the rate of all clients together (while
// all ran, and over the whole) and the 99th percentile latency against the number of clients.
#ifndef ZEBCLI_CHARTS_LOADCHART_H
#define ZEBCLI_CHARTS_LOADCHART_H

#include "charts/chartdata.h"
#include "charts/svg.h"

#include <vector>

namespace zebcli::charts {

Canvas LoadChart(const std::vector<LoadPoint>& points);

} // namespace zebcli::charts

#endif
