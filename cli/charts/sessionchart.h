// The figures of each session as text: its rate large, its outcome, its blocks, bytes and
// time.
#ifndef ZEBCLI_CHARTS_SESSIONCHART_H
#define ZEBCLI_CHARTS_SESSIONCHART_H

#include "charts/chartdata.h"
#include "charts/svg.h"

#include <vector>

namespace zebcli::charts {

Canvas SessionFigures(const std::vector<ChartRun>& sessions);

// The title and subtitle of a picture, centred.
Canvas Heading(const std::string& title, const std::string& subtitle);

} // namespace zebcli::charts

#endif
