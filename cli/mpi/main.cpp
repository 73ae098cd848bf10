// zebcli-mpi: zebcli fileio's clients as the ranks of an MPI job, one client per rank (its
// number the rank), on as many hosts as mpirun gives it:
//   mpirun -np 32 --hostfile hosts zebcli-mpi fileio smb://server/share/T{client}.TST [options]
// Every rank runs its client as zebcli fileio --clients runs one (fleet/fleetrun.h), released
// with the others at every pass through MPI (mpirelease.h); after the last pass every rank's
// results go to rank 0 (mpigather.h), which merges them as zebcli merge does, names each
// client's host, writes the one result and ends with the job's exit status. The other ranks
// end with 0 once their results are gathered: rank 0's status is the job's.
#include "fleet/client.h"
#include "fleet/fleetrun.h"
#include "fleet/merge.h"
#include "mpi/mpigather.h"
#include "mpi/mpirelease.h"
#include "options.h"
#include "processrun.h"
#include "resultsfile.h"
#include "standardfds.h"
#include "summary.h"

#include <mpi.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using namespace zebcli;

namespace {

// Whether this rank has reached the end of the job (its gathering); an exit before that (the
// engine ends its process when a pass finds its data broken) aborts the job, so that no rank
// waits for it.
std::atomic<bool> g_ending{false};
mpi::Rank g_rank;

constexpr char kUsageOf[] = "Usage: zebcli ";
constexpr char kUsageOfMpi[] = "Usage: mpirun [MPI OPTIONS] zebcli-mpi ";

// The number of the client a rank runs: rank 0 runs client 1.
std::uint32_t ClientOf(int rank) {
    return static_cast<std::uint32_t>(rank) + 1;
}
// The directory the job started in, where the merged results go (a client enters its own).
std::string g_startDirectory;

void AbortAtEarlyExit() {
    if (!g_ending) {
        std::fprintf(stderr,
                     "zebcli-mpi: rank %d on host %s: its client's process ended in the middle of "
                     "the job; aborting the job\n",
                     g_rank.rank, g_rank.host.c_str());
        std::fflush(stderr);
        MPI_Abort(MPI_COMM_WORLD, kExitFailed);
    }
}

constexpr char kClientsOption[] = "--clients";

// A usage error, said once (by rank 0).
int Refuse(const std::string& why) {
    if (g_rank.rank == 0) {
        std::fprintf(stderr, "zebcli-mpi: %s\n", why.c_str());
    }
    return kExitUsage;
}

// What this rank checks before the job: the arguments, the test file, its directory and (on
// rank 0) the results files. The exit status to end with, or -1 to run.
int Check(const ParseResult& parsed, std::string& directory) {
    const bool root = g_rank.rank == 0;
    if (!parsed.run) {
        if (root && parsed.exitStatus == kExitPassed) {
            // zebcli's help, for this program's name.
            std::string help = parsed.message;
            for (std::size_t at = help.find(kUsageOf); at != std::string::npos;
                 at = help.find(kUsageOf, at + 1)) {
                help.replace(at, std::strlen(kUsageOf), kUsageOfMpi);
            }
            std::fputs(help.c_str(), stdout);
        } else if (root) {
            std::fprintf(stderr, "zebcli-mpi: %s\n", parsed.message.c_str());
        }
        return parsed.exitStatus;
    }
    const Options& options = parsed.options;
    if (options.command != Command::FileIo) {
        return Refuse("only fileio runs as a job of ranks; zebcli runs the other commands");
    }
    for (const auto& [option, path] :
         {std::pair<const char*, const std::string&>{"--json", options.jsonPath},
          {"--csv", options.csvPath},
          {"--plot", options.plotPath},
          {"--report", options.reportPath}}) {
        if (path == kStandardOutput) {
            return Refuse(std::string(option) +
                          " -: mpirun's standard output carries every rank's lines too; name a "
                          "file");
        }
    }
    if (const std::string why =
            fleet::ClientPathRefusal(options.path, {static_cast<std::uint32_t>(g_rank.size)});
        !why.empty()) {
        return Refuse(why);
    }
    if (const int status = PrepareFileIo(options); status >= 0) {
        return status;
    }
    if (root) {
        if (const int status = PrepareResults(options); status >= 0) {
            return status;
        }
    }
    directory = fleet::ClientDirectory(options.clientsDirectory, ClientOf(g_rank.rank));
    if (const std::string error = fleet::PrepareClientDirectory(directory); !error.empty()) {
        std::fprintf(stderr, "zebcli-mpi: rank %d on host %s: --clients-dir: %s\n", g_rank.rank,
                     g_rank.host.c_str(), error.c_str());
        return kExitNotWritten;
    }
    char* start = ::getcwd(nullptr, 0);
    if (start == nullptr) {
        std::fprintf(stderr, "zebcli-mpi: the current directory cannot be named\n");
        return kExitNotWritten;
    }
    g_startDirectory = start;
    std::free(start);
    char* real = ::realpath(directory.c_str(), nullptr);
    if (real != nullptr) {
        directory = real;
    }
    std::free(real);
    return -1;
}

// Every rank's client as the merge takes it, on rank 0.
std::vector<fleet::ClientResult> Clients(const Options& options,
                                         const std::vector<mpi::RankEnd>& ends) {
    std::vector<fleet::ClientResult> clients;
    for (const mpi::RankEnd& end : ends) {
        fleet::ClientResult result;
        const std::string where =
            "rank " + std::to_string(end.rank) + " on host " + end.host + ": ";
        std::string error = end.error;
        std::optional<fleet::ClientResult> read;
        if (end.hasResults) {
            read = fleet::ClientFromJson(end.results, error);
        }
        if (read) {
            result = std::move(*read);
        } else {
            result.ended = "no results (" + where;
            result.ended.append(error).append(")");
        }
        const std::uint32_t client = ClientOf(end.rank);
        result.name = "client " + std::to_string(client);
        result.host = end.host;
        result.stopped = end.stopped;
        result.directory = fleet::ClientDirectory(options.clientsDirectory, client);
        result.path = fleet::ClientOptions(options, client, result.directory).path;
        if (end.status != kExitPassed && result.ended.empty() && !result.runs.empty() &&
            !result.Failed()) {
            // Its passes passed, yet it said it failed (its results file not written, say).
            result.ended = "exit status " + std::to_string(end.status);
        }
        clients.push_back(std::move(result));
    }
    return clients;
}

// The rank's end of the job once its client has ended with status: the other ranks' releases
// until all have ended, its results to rank 0, and there the merged result written. The
// rank's exit status.
int EndJob(const Options& options, const std::vector<std::string>& commandLine,
           const std::string& directory, mpi::MpiRelease& release, mpi::Watchdog& watchdog,
           int status) {
    g_ending = true;
    release.Finish(status);
    const std::chrono::milliseconds bound(
        static_cast<long long>(options.clientTimeoutSeconds * 1000));
    watchdog.Arm("gathering the results", bound + mpi::kBarrierGrace);
    mpi::RankEnd mine;
    mine.status = status;
    mine.stopped = release.WasStopped();
    const std::string file = directory + "/" + fleet::kClientResults;
    if (std::optional<std::string> text = fleet::ResultsText(file, mine.error)) {
        mine.hasResults = true;
        mine.results = std::move(*text);
    } else {
        mine.error = file + ": " + mine.error;
    }
    const std::vector<mpi::RankEnd> ends = mpi::GatherEnds(g_rank, mine);
    watchdog.Disarm();
    if (g_rank.rank != 0) {
        return kExitPassed;
    }
    if (::chdir(g_startDirectory.c_str()) != 0) {
        std::fprintf(stderr, "zebcli-mpi: %s: cannot go back there for the results\n",
                     g_startDirectory.c_str());
        return kExitNotWritten;
    }
    return fleet::WriteMerged(options, CurrentContext(commandLine),
                              {fleet::Merge(Clients(options, ends))});
}

int RunRank(const std::vector<std::string>& commandLine) {
    std::vector<std::string_view> args(commandLine.begin() + 1, commandLine.end());
    const bool clientsGiven = std::any_of(args.begin(), args.end(), [](std::string_view a) {
        return a == kClientsOption || a.starts_with(std::string(kClientsOption) + "=");
    });
    // Parsed as one client of several, so that the options of clients (--stop-on-failure,
    // --client-timeout, --clients-dir) are taken and those of one process alone refused.
    if (!args.empty() && args.front() == "fileio") {
        args.insert(args.end(), {kClientsOption, "1"});
    }
    const ParseResult parsed = ParseArguments(args);
    std::string directory;
    const int checked =
        clientsGiven ? Refuse("--clients: every rank is one client; mpirun's -np gives their "
                              "number")
                     : Check(parsed, directory);
    // Every rank runs, or none: the worst status of them all.
    int agreed = -1;
    MPI_Allreduce(&checked, &agreed, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
    if (agreed >= 0) {
        return agreed;
    }
    Options options = parsed.options;
    options.clientCounts.clear();
    const std::chrono::milliseconds bound(
        static_cast<long long>(options.clientTimeoutSeconds * 1000));
    std::vector<std::string> hosts = mpi::HostsOfRanks(g_rank);
    mpi::Watchdog watchdog(g_rank);
    std::atexit(AbortAtEarlyExit);
    watchdog.Arm("preparing pass 1", bound);
    // Told to stop at a release, the client has written its results and its process ends
    // from inside the pass: the job's end is done there.
    mpi::MpiRelease* stopping = nullptr;
    mpi::MpiRelease release(
        watchdog, g_rank, std::move(hosts), bound, options.stopOnFailure, [&](int status) {
            const int exitStatus =
                EndJob(options, commandLine, directory, *stopping, watchdog, status);
            MPI_Finalize();
            std::fflush(stdout);
            std::fflush(stderr);
            ::_exit(exitStatus);
        });
    stopping = &release;
    const int status =
        fleet::RunClient(options, commandLine, ClientOf(g_rank.rank), directory, release);
    return EndJob(options, commandLine, directory, release, watchdog, status);
}

} // namespace

int main(int argc, char** argv) {
    ReopenClosedStandardDescriptors();
    std::setlocale(LC_NUMERIC, "C");
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // The watchdog's thread may abort the job while the main one is in a pass.
    int provided = 0;
    MPI_Init_thread(&argc, &argv, MPI_THREAD_MULTIPLE, &provided);
    g_rank = mpi::ThisRank();
    if (provided < MPI_THREAD_MULTIPLE && g_rank.rank == 0) {
        std::fprintf(stderr,
                     "zebcli-mpi: warning: this MPI grants thread level %d, not "
                     "MPI_THREAD_MULTIPLE: a rank past --client-timeout may not end the job\n",
                     provided);
    }
    const int status = RunRank(std::vector<std::string>(argv, argv + argc));
    g_ending = true;
    MPI_Finalize();
    return status;
}
