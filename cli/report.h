// The report of a run (--report FILE.html): one page that needs nothing else (no network, no
// script): the parameters, the test target, a row per pass or session with its latency
// percentiles, the failures and the charts; readable on a phone and on paper.
#ifndef ZEBCLI_REPORT_H
#define ZEBCLI_REPORT_H

#include "options.h"
#include "summary.h"

#include <string>
#include <vector>

namespace zebcli {

std::string ResultsHtml(const Options& options, const RunContext& context,
                        const std::vector<RunRecord>& runs, int resultCode);

} // namespace zebcli

#endif
