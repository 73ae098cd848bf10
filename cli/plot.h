// The pictures of a run: for a sweep, MB/s and operations per second against the buffer size
// (failed passes marked); for sessions, each session's figures; for both, the rate and the
// 99th percentile latency over time, and the latency percentiles of each pass or session.
// --plot writes them as one self-contained SVG, --report inlines them in its page.
#ifndef ZEBCLI_PLOT_H
#define ZEBCLI_PLOT_H

#include "charts/chartdata.h"
#include "charts/svg.h"
#include "options.h"
#include "summary.h"

#include <string>
#include <vector>

namespace zebcli {

struct RunCharts {
    std::string title;
    std::string subtitle;
    std::vector<std::pair<std::string, charts::Canvas>> charts; // each with its title
};

// What the charts draw of each run.
std::vector<charts::ChartRun> ChartRuns(const Options& options, const std::vector<RunRecord>& runs);

RunCharts ChartsOf(const Options& options, const RunContext& context,
                   const std::vector<RunRecord>& runs);

// The charts one above the other under the title, as one SVG document.
std::string ResultsSvg(const Options& options, const RunContext& context,
                       const std::vector<RunRecord>& runs);

// The test target as the title names it: the file system ("ext4 (/mnt)") of a local test
// file, the backend and server of a network one.
std::string TargetText(const Options& options, const RunContext& context);

} // namespace zebcli

#endif
