// zebcli fileio --clients and zebcli merge, and the pieces a front end of its own calls: a
// client's run (its setup and its release), and the writing of a merged result.
#ifndef ZEBCLI_FLEET_FLEETRUN_H
#define ZEBCLI_FLEET_FLEETRUN_H

#include "fleet/merge.h"
#include "fleet/release.h"
#include "options.h"
#include "summary.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zebcli::fleet {

// Client number client of options's run, in its own process: its own test file, directory
// (entered, and WINDIR pointed at it), seed offset and results file, released by release at
// every pass. Returns the process's exit status.
int RunClient(const Options& options, const std::vector<std::string>& commandLine,
              std::uint32_t client, const std::string& directory, Release& release);

// Prints the end summary of each merged result (one per number of clients run) and writes
// the results files options name; the exit status (1 when a client failed, naming it on
// standard error).
int WriteMerged(const Options& options, const RunContext& context,
                const std::vector<MergedResult>& points);

// fileio --clients: the clients forked, released together and merged, at each number given.
int RunClients(const Options& options, const std::vector<std::string>& commandLine);

// zebcli merge: the clients' results files as one result.
int RunMerge(const Options& options, const std::vector<std::string>& commandLine);

} // namespace zebcli::fleet

#endif
