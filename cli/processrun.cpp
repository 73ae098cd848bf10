// One process's run of zebcli's tests: the results files checked before it, the engine
// driven with the console as its board, the end summary printed and the results written,
// Ctrl-C and the engine's own end of the process handled.
#include "processrun.h"

#include "endsummary.h"
#include "plot.h"
#include "progress.h"
#include "recorder.h"
#include "report.h"
#include "resultsfile.h"
#include "soak.h"
#include "summary.h"
#include "testfs.h"
#include "zebdll.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace zebcli {

namespace {
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

} // namespace

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

namespace {

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

} // namespace

bool WriteResult(const std::string& path, const std::string& text) {
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

namespace {

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
    bool written = WriteResult(options.jsonPath, ResultsJson(options, context, runs, resultCode));
    written = WriteResult(options.csvPath, ResultsCsv(options.command, runs)) && written;
    written = WriteResult(options.seriesPath, SeriesCsv(options.command, runs)) && written;
    written = EndStream(ResultsJson(options, context, runs, resultCode, true)) && written;
    written = WriteResult(options.plotPath, ResultsSvg(options, context, runs)) && written;
    written =
        WriteResult(options.reportPath, ResultsHtml(options, context, runs, resultCode)) && written;
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

} // namespace

int PrepareFileIo(const Options& options) {
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
    return -1;
}

int RunProcess(const Options& options, const std::vector<std::string>& commandLine,
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
        released->stop = [&options, &context, &runs, released] {
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
            released->release->Stopped(status);
            ::_exit(status);
        };
    }
    RunTests(options, runs, released);
    g_unfinished = {};
    // A second Ctrl-C from here on waits for these results instead of writing its own.
    const std::lock_guard lock(RunsMutex());
    return Finish(options, context, runs);
}

} // namespace zebcli
