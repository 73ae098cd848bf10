// The sweep chart: MB/s (left) and operations per second (right) against the buffer size,
// one mark per pass, the passes that did not pass marked with their outcome.
#ifndef ZEBCLI_CHARTS_SWEEPCHART_H
#define ZEBCLI_CHARTS_SWEEPCHART_H

#include "charts/chartdata.h"
#include "charts/svg.h"

#include <vector>

namespace zebcli::charts {

Canvas SweepChart(const std::vector<ChartRun>& passes);

} // namespace zebcli::charts

#endif
