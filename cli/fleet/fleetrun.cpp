// zebcli fileio --clients and zebcli merge: the clients forked and released together, each
// run as one process runs, and their results merged and written.
#include "fleet/fleetrun.h"

#include "enginetext.h"
#include "fleet/client.h"
#include "fleet/fleetoutput.h"
#include "fleet/fork.h"
#include "fleet/merge.h"
#include "plot.h"
#include "processrun.h"
#include "report.h"
#include "runner.h"
#include "summary.h"
#include "zebdll.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace zebcli::fleet {

// A client of fileio --clients, in its own process: its own test file, directory, WINDIR
// and seed, released with the others.
int RunClient(const Options& options, const std::vector<std::string>& commandLine,
              std::uint32_t client, const std::string& directory, Release& release) {
    const Options own = ClientOptions(options, client, directory);
    if (const std::string error = EnterClientDirectory(directory); !error.empty()) {
        std::fprintf(stderr, "zebcli: %s\n", error.c_str());
        return kExitNotWritten;
    }
    SetRandomSeedOffset(SeedOffset(client));
    Released released{&release, {}, 0};
    return RunProcess(own, commandLine, &released);
}

// The results of the merge (of each number of clients run), as one process's are written;
// the exit status.
int WriteMerged(const Options& options, const RunContext& context,
                const std::vector<MergedResult>& points) {
    bool failed = points.empty();
    for (const MergedResult& merged : points) {
        if (points.size() > 1) {
            std::printf("%zu clients:\n", merged.clients.size());
        }
        for (const std::string& line : MergedSummary(merged)) {
            std::printf("%s\n", line.c_str());
        }
        for (const ClientResult& client : merged.clients) {
            if (client.Failed()) {
                std::fprintf(stderr, "zebcli: %s%s failed: %s\n",
                             points.size() > 1
                                 ? (std::to_string(merged.clients.size()) + " clients: ").c_str()
                                 : "",
                             client.name.c_str(), client.Failure().c_str());
            }
        }
        failed = failed || merged.clients.empty() || !merged.FailedClients().empty();
    }
    if (points.size() > 1) {
        for (const std::string& line : LoadSummary(points)) {
            std::printf("%s\n", line.c_str());
        }
    }
    std::fflush(stdout);
    // The charts and the report: the load points, then the run of the most clients.
    const auto most =
        std::max_element(points.begin(), points.end(), [](const auto& a, const auto& b) {
            return a.clients.size() < b.clients.size();
        });
    const MergedResult none;
    const MergedResult& shown = most == points.end() ? none : *most;
    const std::vector<RunRecord> all = AllRuns(shown);
    RunContext charts = ChartContext(context, shown);
    if (points.size() > 1) {
        for (const MergedResult& merged : points) {
            charts.loadPoints.push_back(LoadPointOf(merged));
        }
    }
    bool written =
        WriteResult(options.jsonPath, points.size() == 1 ? MergedJson(options, context, points[0])
                                                         : LoadJson(options, context, points));
    written = WriteResult(options.csvPath, MergedCsv(points)) && written;
    written = WriteResult(options.plotPath, ResultsSvg(options, charts, all)) && written;
    written = WriteResult(options.reportPath,
                          ResultsHtml(options, charts, all,
                                      failed ? ZEB_RESULT_FAILED : ZEB_RESULT_PASSED)) &&
              written;
    if (!written) {
        return kExitNotWritten;
    }
    return failed ? kExitFailed : kExitPassed;
}

namespace {

// One run of count clients, merged; nothing when their directories cannot be made.
std::optional<MergedResult> RunClientsOnce(const Options& options,
                                           const std::vector<std::string>& commandLine,
                                           std::uint32_t count) {
    std::vector<std::string> directories;
    for (std::uint32_t client = 1; client <= count; ++client) {
        const std::string directory = ClientDirectory(options.clientsDirectory, client);
        if (const std::string error = PrepareClientDirectory(directory); !error.empty()) {
            std::fprintf(stderr, "zebcli: --clients-dir: %s\n", error.c_str());
            return std::nullopt;
        }
        char* real = ::realpath(directory.c_str(), nullptr);
        directories.emplace_back(real != nullptr ? real : directory);
        std::free(real);
    }
    const std::string host = CurrentContext(commandLine).host;
    ForkSettings settings;
    settings.clients = count;
    settings.bound =
        std::chrono::milliseconds(static_cast<long long>(options.clientTimeoutSeconds * 1000));
    settings.stopOnFailure = options.stopOnFailure;
    settings.line = [&options](std::uint32_t client, const std::string& line) {
        if (!options.quiet) {
            std::printf("client %u: %s\n", client, EngineLine(line).c_str());
        }
    };
    const std::vector<ClientEnd> ends =
        RunForked(settings, [&](std::uint32_t client, Release& release) {
            return RunClient(options, commandLine, client, directories[client - 1], release);
        });
    std::vector<ClientResult> clients;
    for (const ClientEnd& end : ends) {
        ClientResult result;
        std::string error;
        const std::string directory = directories[end.client - 1];
        const std::string file = directory + "/" + kClientResults;
        if (end.ended.empty()) {
            if (std::optional<ClientResult> read = ClientFromFile(file, error)) {
                result = std::move(*read);
            } else {
                result.ended = "no results (" + file;
                result.ended.append(": ").append(error).append(")");
            }
        }
        result.name = "client " + std::to_string(end.client);
        result.stopped = end.stopped;
        result.directory = directory;
        result.path = ClientOptions(options, end.client, directory).path;
        if (result.host.empty()) {
            result.host = host;
        }
        if (!end.ended.empty()) {
            result.ended = "ended by zebcli: " + end.ended;
        } else if (!end.exited) {
            result.ended = "ended by signal " + std::to_string(end.signal);
        } else if (end.status != kExitPassed && result.ended.empty() && !result.runs.empty() &&
                   result.Failed() == false) {
            // Its passes passed, yet it said it failed (a results file not written, say).
            result.ended = "exit status " + std::to_string(end.status);
        }
        clients.push_back(std::move(result));
    }
    return Merge(std::move(clients));
}

} // namespace

// fileio --clients N: N clients forked before anything touches the engine, released together
// at every pass, their results merged.
int RunClients(const Options& options, const std::vector<std::string>& commandLine) {
    if (const int status = PrepareResults(options); status >= 0) {
        return status;
    }
    const RunContext context = CurrentContext(commandLine);
    std::vector<MergedResult> points;
    for (const std::uint32_t count : options.clientCounts) {
        std::optional<MergedResult> merged = RunClientsOnce(options, commandLine, count);
        if (!merged) {
            return kExitNotWritten;
        }
        points.push_back(std::move(*merged));
        // Asked to stop (Ctrl-C reached the clients too): no further number of clients.
        if (Interrupted()) {
            break;
        }
    }
    return WriteMerged(options, context, points);
}

// zebcli merge: the clients' results files as one result.
int RunMerge(const Options& options, const std::vector<std::string>& commandLine) {
    if (const int status = PrepareResults(options); status >= 0) {
        return status;
    }
    std::vector<ClientResult> clients;
    for (const std::string& path : options.mergePaths) {
        std::string error;
        std::optional<ClientResult> client = ClientFromFile(path, error);
        if (!client) {
            std::fprintf(stderr, "zebcli: merge %s: %s\n", path.c_str(), error.c_str());
            return kExitUsage;
        }
        client->name = path;
        clients.push_back(std::move(*client));
    }
    // The charts' title from the clients' own parameters.
    Options shown = options;
    if (!clients.empty() && !clients.front().runs.empty()) {
        const RunRecord& first = clients.front().runs.front();
        shown.modeText = first.mode;
        shown.ioMode = first.modeIndex.value_or(0);
        shown.iteration = first.iterations.value_or(0);
        shown.path = clients.front().path;
    }
    return WriteMerged(shown, CurrentContext(commandLine), {Merge(std::move(clients))});
}

} // namespace zebcli::fleet
