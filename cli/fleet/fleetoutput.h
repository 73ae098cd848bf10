// What zebcli fileio --clients and zebcli merge write and print of a merged result: the one
// JSON document (each client's passes as one process writes them, then the passes of them
// all), the CSV rows per client and pass and per pass of them all, the end summary, the
// charts and report of the passes of them all with the band of the clients' rates, and the
// load points of several numbers of clients.
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
// One row per client and pass, and per pass of them all, of every number of clients run.
std::string MergedCsv(const std::vector<MergedResult>& points);
std::vector<std::string> MergedSummary(const MergedResult& merged);

// Several numbers of clients run one after the other (--clients 1,2,4): each one over all its
// passes (the rate while all ran, over the whole, the p99 of every operation), and the
// document of them all: each number's clients and passes as MergedJson has them.
charts::LoadPoint LoadPointOf(const MergedResult& merged);
std::string LoadJson(const Options& options, const RunContext& context,
                     const std::vector<MergedResult>& points);
std::vector<std::string> LoadSummary(const std::vector<MergedResult>& points);

} // namespace zebcli::fleet

#endif
