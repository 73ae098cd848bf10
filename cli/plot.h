// The picture of a run (--plot): a self-contained SVG chart. A sweep is drawn as MB/s and
// operations per second against the buffer size, one mark per pass, failed passes marked; a
// session as a bar of its rate.
#ifndef ZEBCLI_PLOT_H
#define ZEBCLI_PLOT_H

#include "options.h"
#include "summary.h"

#include <string>
#include <vector>

namespace zebcli {

std::string ResultsSvg(const Options& options, const RunContext& context,
                       const std::vector<RunRecord>& runs);

// A round upper end for an axis that must reach value (1, 2 or 5 times a power of ten).
double NiceCeiling(double value);

} // namespace zebcli

#endif
