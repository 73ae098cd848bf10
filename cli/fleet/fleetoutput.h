// What zebcli fileio --clients and zebcli merge write and print of a merged result: the one
// JSON document (each client's passes as one process writes them, then the passes of them
// all), the CSV rows per client and pass and per pass of them all, the end summary, and the
// charts and report of the passes of them all with the band of the clients' rates.
#ifndef ZEBCLI_FLEET_FLEETOUTPUT_H
#define ZEBCLI_FLEET_FLEETOUTPUT_H

#include "fleet/merge.h"
#include "options.h"
#include "summary.h"

#include <string>
#include <vector>

namespace zebcli::fleet {

// The passes of them all, as the charts and the report take runs, and the context that
// names the clients and their band.
std::vector<RunRecord> AllRuns(const MergedResult& merged);
RunContext ChartContext(RunContext context, const MergedResult& merged);

std::string MergedJson(const Options& options, const RunContext& context,
                       const MergedResult& merged);
std::string MergedCsv(const MergedResult& merged);
std::vector<std::string> MergedSummary(const MergedResult& merged);

} // namespace zebcli::fleet

#endif
