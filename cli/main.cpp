// zebcli: the ZEB LAN stress tests without a window, for file servers, test hosts and
// scripts. The console is the message board; the exit status says whether a failure was
// posted.
#include "compatlogreader.h"
#include "console.h"
#include "endsummary.h"
#include "enginetext.h"
#include "fleet/client.h"
#include "fleet/fleetoutput.h"
#include "fleet/fork.h"
#include "fleet/merge.h"
#include "options.h"
#include "plot.h"
#include "progress.h"
#include "recorder.h"
#include "report.h"
#include "resultsfile.h"
#include "runner.h"
#include "soak.h"
#include "standardfds.h"
#include "summary.h"
#include "testfs.h"
#include "zebdll.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using namespace zebcli;

// The progress line of the run under way, for the interrupt's thread; null outside a run.
std::atomic<Progress*> g_progress{nullptr};

// The --json-stream file during the run (-1: none) and the first error writing it.
struct Stream {
    int fd = -1;
    bool owned = false; // a file of its own, not the document's standard output
    std::string error;
} g_stream;

// One line of the stream, out at once.
void StreamLine(const std::string& line) {
    if (g_stream.fd >= 0 && g_stream.error.empty()) {
        g_stream.error = WriteAll(g_stream.fd, line);
    }
}

void RunTests(const Options& options, std::vector<RunRecord>& runs, Released* released) {
    // The progress line only where a person watches it.
    const bool watched = !options.quiet && ::isatty(STDERR_FILENO) == 1;
    Progress progress(watched ? stderr : nullptr);
    g_progress = &progress;
    ConsoleBoard board(stdout, options.quiet, &progress);
    // Each interval on the stream as it ends: a pass's record is in runs from its start, a
    // session's only after it.
    RunRecord session;
    session.kind = CommandName(options.command);
    Recorder::IntervalSink sink;
    if (g_stream.fd >= 0) {
        sink = [&](const IntervalRecord& interval) {
            const bool pass = options.command == Command::FileIo && !runs.empty();
            StreamLine(IntervalJsonLine(pass ? runs.size() - 1 : 0, pass ? runs.back() : session,
                                        interval));
        };
    }
    Recorder recorder(options.intervalSeconds, sink);
    // The board stays fed in quiet mode too: only its texts tell a pass's verdict.
    PassDynaResult(1);
    PassSaveResult(options.save ? 1 : 0);
    switch (options.command) {
    case Command::FileIo:
        RunSoak(options, board, progress, recorder, runs, released);
        break;
    case Command::Send:
        runs = RunSender(options, board, progress, recorder);
        break;
    case Command::Receive:
        runs = RunReceiver(options, board, progress, recorder);
        break;
    case Command::Log:
    case Command::Merge:
        break;
    }
    g_progress = nullptr;
}

// Where a document given as "-" goes: standard output as the process got it; -1 for none.
int g_document = -1;

// The results files the options name, each with its option.
std::vector<std::pair<const char*, std::string>> ResultsPaths(const Options& options) {
    std::vector<std::pair<const char*, std::string>> paths;
    for (const auto& [option, path] :
         {std::pair<const char*, const std::string&>{"--json", options.jsonPath},
          {"--csv", options.csvPath},
          {"--json-stream", options.jsonStreamPath},
          {"--series", options.seriesPath},
          {"--plot", options.plotPath},
          {"--report", options.reportPath}}) {
        if (!path.empty()) {
            paths.emplace_back(option, path);
        }
    }
    return paths;
}

// Before anything runs: every results file can be written where it is to go, and a document
// for standard output has it to itself. The exit status, or -1 to run.
int PrepareResults(const Options& options) {
    for (const auto& [option, path] : ResultsPaths(options)) {
        if (path == kStandardOutput) {
            if ((g_document = DivertStandardOutput()) < 0) {
                std::fprintf(stderr, "zebcli: %s -: standard output cannot be kept: %s\n", option,
                             std::strerror(errno));
                return kExitNotWritten;
            }
        } else if (const std::string refusal = ResultsPathRefusal(path); !refusal.empty()) {
            std::fprintf(stderr, "zebcli: %s %s: %s; nothing was run\n", option, path.c_str(),
                         refusal.c_str());
            return kExitNotWritten;
        }
    }
    // The stream is there from the start, to be read as it grows.
    if (options.jsonStreamPath == kStandardOutput) {
        g_stream.fd = g_document;
    } else if (!options.jsonStreamPath.empty()) {
        if (const std::string error = OpenStreamFile(options.jsonStreamPath, g_stream.fd);
            !error.empty()) {
            std::fprintf(stderr, "zebcli: --json-stream %s: %s; nothing was run\n",
                         options.jsonStreamPath.c_str(), error.c_str());
            return kExitNotWritten;
        }
        g_stream.owned = true;
    }
    return -1;
}

// The stream's last line, the whole result; false (and a message) when the stream could not
// be written.
bool EndStream(const std::string& result) {
    if (g_stream.fd < 0) {
        return true;
    }
    StreamLine(result);
    if (g_stream.owned && ::close(g_stream.fd) != 0 && g_stream.error.empty()) {
        g_stream.error = std::strerror(errno);
    }
    g_stream.fd = -1;
    if (!g_stream.error.empty()) {
        std::fprintf(stderr, "zebcli: cannot write the --json-stream results: %s\n",
                     g_stream.error.c_str());
        return false;
    }
    return true;
}

// Writes one results file; false (and a message) when it could not be written.
bool Write(const std::string& path, const std::string& text) {
    if (path.empty()) {
        return true;
    }
    const std::string error =
        path == kStandardOutput ? WriteAll(g_document, text) : WriteWholeFile(path, text);
    if (!error.empty()) {
        std::fprintf(stderr, "zebcli: %s\n",
                     (path == kStandardOutput
                          ? "cannot write the results to standard output: " + error
                          : error)
                         .c_str());
        return false;
    }
    return true;
}

// The end of a run: its summary lines and its results files. Returns the exit status.
int Finish(const Options& options, RunContext& context, const std::vector<RunRecord>& runs) {
    for (const std::string& line : EndSummary(options, runs)) {
        std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
    const int resultCode = GetRetCode();
    int status = resultCode == ZEB_RESULT_PASSED ? kExitPassed : kExitFailed;
    // A receiver that no sender called has tested nothing: not a pass.
    for (const RunRecord& run : runs) {
        if (run.outcome == Outcome::NoSender) {
            status = kExitFailed;
        }
    }
    if (options.command == Command::FileIo && DescribeTarget(options).backend == "posix") {
        context.fileSystem = DescribeFileSystem(options.path);
    }
    bool written = Write(options.jsonPath, ResultsJson(options, context, runs, resultCode));
    written = Write(options.csvPath, ResultsCsv(options.command, runs)) && written;
    written = Write(options.seriesPath, SeriesCsv(options.command, runs)) && written;
    written = EndStream(ResultsJson(options, context, runs, resultCode, true)) && written;
    written = Write(options.plotPath, ResultsSvg(options, context, runs)) && written;
    written = Write(options.reportPath, ResultsHtml(options, context, runs, resultCode)) && written;
    return written ? status : kExitNotWritten;
}

// What the run has done so far, for the engine's own end of the process (exit from inside a
// pass): the results are still written, the pass under way marked as the one that ended it.
struct Unfinished {
    const Options* options = nullptr;
    RunContext* context = nullptr;
    std::vector<RunRecord>* runs = nullptr;
} g_unfinished;

void FinishAtEngineExit() {
    if (g_unfinished.options == nullptr) {
        return;
    }
    const Options& options = *g_unfinished.options;
    g_unfinished.options = nullptr;
    if (!g_unfinished.runs->empty()) {
        g_unfinished.runs->back().resultCode = GetRetCode();
    }
    if (Finish(options, *g_unfinished.context, *g_unfinished.runs) == kExitNotWritten) {
        std::fflush(stdout);
        ::_exit(kExitNotWritten);
    }
}

// Ctrl-C during a file I/O sweep: the first ends the run after the pass under way, the second
// ends it at once with the passes completed so far written.
void HandleCtrlC(const Options& options, RunContext& context, std::vector<RunRecord>& runs) {
    HandleInterrupts(
        [] {
            const auto say = [] {
                std::fputs("zebcli: interrupted: the run ends after this pass (Ctrl-C again "
                           "ends it at once)\n",
                           stderr);
                std::fflush(stderr);
            };
            if (Progress* progress = g_progress) {
                progress->Around(say);
            } else {
                say();
            }
        },
        [&options, &context, &runs] {
            // The pass under way is left out; the engine goes on until the process ends.
            std::unique_lock lock(RunsMutex());
            if (Progress* progress = g_progress) {
                progress->Stop();
            }
            std::vector<RunRecord> done = runs;
            if (!done.empty() && done.back().outcome == Outcome::EndedByEngine) {
                done.pop_back();
            }
            g_unfinished = {};
            std::fputs("zebcli: interrupted again: the pass under way is not recorded\n", stderr);
            const int status = Finish(options, context, done);
            std::fflush(stdout);
            ::_exit(status);
        });
}

// One process's run of the engine, as a client released with others when released is set.
int RunOne(const Options& options, const std::vector<std::string>& commandLine,
           Released* released) {
    if (const int status = PrepareResults(options); status >= 0) {
        return status;
    }
    RunContext context = CurrentContext(commandLine);
    std::vector<RunRecord> runs;
    g_unfinished = {&options, &context, &runs};
    std::atexit(FinishAtEngineExit);
    if (options.command == Command::FileIo) {
        HandleCtrlC(options, context, runs);
    }
    if (released != nullptr) {
        // Told to stop at a release: the passes completed are the result.
        released->stop = [&options, &context, &runs] {
            std::vector<RunRecord> done;
            {
                const std::lock_guard lock(RunsMutex());
                done = runs;
            }
            if (!done.empty() && done.back().outcome == Outcome::EndedByEngine) {
                done.pop_back();
            }
            g_unfinished = {};
            std::fputs("zebcli: stopped at the release: another client failed\n", stderr);
            const int status = Finish(options, context, done);
            std::fflush(stdout);
            std::fflush(stderr);
            ::_exit(status);
        };
    }
    RunTests(options, runs, released);
    g_unfinished = {};
    // A second Ctrl-C from here on waits for these results instead of writing its own.
    const std::lock_guard lock(RunsMutex());
    return Finish(options, context, runs);
}

// A client of fileio --clients, in its own process: its own test file, directory, WINDIR
// and seed, released with the others.
int RunClient(const Options& options, const std::vector<std::string>& commandLine,
              std::uint32_t client, const std::string& directory, fleet::Release& release) {
    const Options own = fleet::ClientOptions(options, client, directory);
    if (const std::string error = fleet::EnterClientDirectory(directory); !error.empty()) {
        std::fprintf(stderr, "zebcli: %s\n", error.c_str());
        return kExitNotWritten;
    }
    SetRandomSeedOffset(fleet::SeedOffset(client));
    Released released{&release, {}, 0};
    return RunOne(own, commandLine, &released);
}

// The results of the merge (of each number of clients run), as one process's are written;
// the exit status.
int WriteMerged(const Options& options, const RunContext& context,
                const std::vector<fleet::MergedResult>& points) {
    bool failed = points.empty();
    for (const fleet::MergedResult& merged : points) {
        if (points.size() > 1) {
            std::printf("%zu clients:\n", merged.clients.size());
        }
        for (const std::string& line : fleet::MergedSummary(merged)) {
            std::printf("%s\n", line.c_str());
        }
        for (const fleet::ClientResult& client : merged.clients) {
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
        for (const std::string& line : fleet::LoadSummary(points)) {
            std::printf("%s\n", line.c_str());
        }
    }
    std::fflush(stdout);
    // The charts and the report: the load points, then the run of the most clients.
    const auto most =
        std::max_element(points.begin(), points.end(), [](const auto& a, const auto& b) {
            return a.clients.size() < b.clients.size();
        });
    const fleet::MergedResult none;
    const fleet::MergedResult& shown = most == points.end() ? none : *most;
    const std::vector<RunRecord> all = fleet::AllRuns(shown);
    RunContext charts = fleet::ChartContext(context, shown);
    if (points.size() > 1) {
        for (const fleet::MergedResult& merged : points) {
            charts.loadPoints.push_back(fleet::LoadPointOf(merged));
        }
    }
    bool written =
        Write(options.jsonPath, points.size() == 1 ? fleet::MergedJson(options, context, points[0])
                                                   : fleet::LoadJson(options, context, points));
    written = Write(options.csvPath, fleet::MergedCsv(points)) && written;
    written = Write(options.plotPath, ResultsSvg(options, charts, all)) && written;
    written =
        Write(options.reportPath,
              ResultsHtml(options, charts, all, failed ? ZEB_RESULT_FAILED : ZEB_RESULT_PASSED)) &&
        written;
    if (!written) {
        return kExitNotWritten;
    }
    return failed ? kExitFailed : kExitPassed;
}

std::optional<fleet::MergedResult> RunClientsOnce(const Options& options,
                                                  const std::vector<std::string>& commandLine,
                                                  std::uint32_t count);

// fileio --clients N: N clients forked before anything touches the engine, released together
// at every pass, their results merged.
int RunClients(const Options& options, const std::vector<std::string>& commandLine) {
    if (const int status = PrepareResults(options); status >= 0) {
        return status;
    }
    const RunContext context = CurrentContext(commandLine);
    std::vector<fleet::MergedResult> points;
    for (const std::uint32_t count : options.clientCounts) {
        std::optional<fleet::MergedResult> merged = RunClientsOnce(options, commandLine, count);
        if (!merged) {
            return kExitNotWritten;
        }
        points.push_back(std::move(*merged));
        // Asked to stop (Ctrl-C reached the clients too): no further number of clients.
        if (fleet::Interrupted()) {
            break;
        }
    }
    return WriteMerged(options, context, points);
}

// One run of count clients, merged; nothing when their directories cannot be made.
std::optional<fleet::MergedResult> RunClientsOnce(const Options& options,
                                                  const std::vector<std::string>& commandLine,
                                                  std::uint32_t count) {
    std::vector<std::string> directories;
    for (std::uint32_t client = 1; client <= count; ++client) {
        const std::string directory = fleet::ClientDirectory(options.clientsDirectory, client);
        if (const std::string error = fleet::PrepareClientDirectory(directory); !error.empty()) {
            std::fprintf(stderr, "zebcli: --clients-dir: %s\n", error.c_str());
            return std::nullopt;
        }
        char* real = ::realpath(directory.c_str(), nullptr);
        directories.emplace_back(real != nullptr ? real : directory);
        std::free(real);
    }
    const std::string host = CurrentContext(commandLine).host;
    fleet::ForkSettings settings;
    settings.clients = count;
    settings.bound =
        std::chrono::milliseconds(static_cast<long long>(options.clientTimeoutSeconds * 1000));
    settings.stopOnFailure = options.stopOnFailure;
    settings.line = [&options](std::uint32_t client, const std::string& line) {
        if (!options.quiet) {
            std::printf("client %u: %s\n", client, EngineLine(line).c_str());
        }
    };
    const std::vector<fleet::ClientEnd> ends =
        fleet::RunForked(settings, [&](std::uint32_t client, fleet::Release& release) {
            return RunClient(options, commandLine, client, directories[client - 1], release);
        });
    std::vector<fleet::ClientResult> clients;
    for (const fleet::ClientEnd& end : ends) {
        fleet::ClientResult result;
        std::string error;
        const std::string directory = directories[end.client - 1];
        const std::string file = directory + "/" + fleet::kClientResults;
        if (end.ended.empty()) {
            if (std::optional<fleet::ClientResult> read = fleet::ClientFromFile(file, error)) {
                result = std::move(*read);
            } else {
                result.ended = "no results (" + file;
                result.ended.append(": ").append(error).append(")");
            }
        }
        result.name = "client " + std::to_string(end.client);
        result.stopped = end.stopped;
        result.directory = directory;
        result.path = fleet::ClientOptions(options, end.client, directory).path;
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
    return fleet::Merge(std::move(clients));
}

// zebcli merge: the clients' results files as one result.
int RunMerge(const Options& options, const std::vector<std::string>& commandLine) {
    if (const int status = PrepareResults(options); status >= 0) {
        return status;
    }
    std::vector<fleet::ClientResult> clients;
    for (const std::string& path : options.mergePaths) {
        std::string error;
        std::optional<fleet::ClientResult> client = fleet::ClientFromFile(path, error);
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
    return WriteMerged(shown, CurrentContext(commandLine), {fleet::Merge(std::move(clients))});
}

} // namespace

int main(int argc, char** argv) {
    ReopenClosedStandardDescriptors();
    std::setlocale(LC_NUMERIC, "C");
    // Each message is a line, and a line is out as soon as it is printed.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    const std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const ParseResult parsed = ParseArguments(args);
    if (!parsed.run) {
        if (parsed.exitStatus == kExitPassed) {
            std::fputs(parsed.message.c_str(), stdout);
        } else {
            std::fprintf(stderr, "zebcli: %s\n", parsed.message.c_str());
        }
        return parsed.exitStatus;
    }
    const Options& options = parsed.options;
    if (options.command == Command::Log) {
        return DecodeLogCommand(options.logPath, options.logJson, stdout, stderr);
    }
    const std::vector<std::string> commandLine(argv, argv + argc);
    if (options.command == Command::Merge) {
        return RunMerge(options, commandLine);
    }

    if (options.command == Command::FileIo) {
        if (!options.authenticationFile.empty()) {
            ::setenv("ZEB_AUTHENTICATION_FILE", options.authenticationFile.c_str(), 1);
        }
        if (options.cacheMode == ZEB_CACHE_DIRECT && DescribeTarget(options).backend == "posix") {
            const std::string refusal =
                DirectRefusal(options.path, SweepBufferSizes(options), options.ioMode);
            if (!refusal.empty()) {
                std::fprintf(stderr, "zebcli: %s\n", refusal.c_str());
                return kExitUsage;
            }
        }
        if (!options.clientCounts.empty()) {
            return RunClients(options, commandLine);
        }
    }
    return RunOne(options, commandLine, nullptr);
}
