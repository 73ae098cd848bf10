#include "runner.h"

#include "enginetext.h"
#include "modes.h"
#include "quietfailures.h"
#include "recorder.h"
#include "sweep.h"
#include "testfs.h"
#include "zebdll.h"
#include "zebtexts.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <functional>
#include <mutex>

namespace zebcli {

namespace {

using Clock = std::chrono::steady_clock;

// Times one engine call on the monotonic clock and records when it started.
template <typename Call> RunRecord Timed(Call call, int& engineResult) {
    RunRecord run{};
    run.start = UtcTimestamp();
    const auto begin = Clock::now();
    engineResult = call();
    run.elapsedSeconds = std::chrono::duration<double>(Clock::now() - begin).count();
    run.engineResult = engineResult;
    run.resultCode = GetRetCode();
    return run;
}

bool Contains(const std::vector<std::string>& texts, std::string_view text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

bool AnyStartsWith(const std::vector<std::string>& texts, std::string_view prefix) {
    return std::any_of(texts.begin(), texts.end(),
                       [&](const std::string& t) { return t.starts_with(prefix); });
}

bool AnyContains(const std::vector<std::string>& texts, std::string_view part) {
    return std::any_of(texts.begin(), texts.end(),
                       [&](const std::string& t) { return t.find(part) != std::string::npos; });
}

std::vector<std::string> Texts(const std::vector<BoardText>& timed) {
    std::vector<std::string> texts;
    texts.reserve(timed.size());
    for (const BoardText& t : timed) {
        texts.push_back(t.text);
    }
    return texts;
}

// The first text that matches, at or after from.
template <typename Match>
std::vector<BoardText>::const_iterator Find(const std::vector<BoardText>& texts,
                                            std::vector<BoardText>::const_iterator from,
                                            Match match) {
    return std::find_if(from, texts.end(), [&](const BoardText& t) { return match(t.text); });
}

// Seconds from the first text that begins to the first later text that ends.
template <typename Begins, typename Ends>
std::optional<double> Between(const std::vector<BoardText>& texts, Begins begins, Ends ends) {
    const auto first = Find(texts, texts.begin(), begins);
    if (first == texts.end()) {
        return std::nullopt;
    }
    const auto last = Find(texts, first, ends);
    if (last == texts.end()) {
        return std::nullopt;
    }
    return std::chrono::duration<double>(last->at - first->at).count();
}

// The number that follows marker in text.
std::optional<std::uint64_t> NumberAfter(std::string_view text, std::string_view marker) {
    const std::size_t at = text.find(marker);
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view rest = text.substr(at + marker.size());
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
    if (error != std::errc() || end == rest.data()) {
        return std::nullopt;
    }
    return value;
}

// The engine's rate text: everything up to and with " KB/s", blanks in front dropped.
std::string RateText(std::string_view text) {
    const std::size_t at = text.find(" KB/s");
    if (at == std::string_view::npos) {
        return {};
    }
    text = text.substr(0, at + 5);
    return std::string(text.substr(std::min(text.find_first_not_of(' '), text.size())));
}

// In quiet mode a run that did not pass still shows what the engine said about it, without
// its lines per block or per call, and a text repeated at once as one line with its count.
void ShowFailure(const RunRecord& run, const std::vector<std::string>& texts, ConsoleBoard& board,
                 bool quiet) {
    if (!quiet || run.Passed()) {
        return;
    }
    std::vector<std::pair<std::string, int>> lines;
    for (const std::string& text : texts) {
        if (text.starts_with("Received block ") || text == "calling receiver") {
            continue;
        }
        if (!lines.empty() && lines.back().first == text) {
            ++lines.back().second;
        } else {
            lines.emplace_back(text, 1);
        }
    }
    for (const auto& [text, count] : lines) {
        board.PrintAlways(EngineLine(text) +
                          (count > 1 ? " (" + std::to_string(count) + " times)" : ""));
    }
}

// What the recorder timed and the failures it kept by kind; the cause of the first failed
// transfer, or of a test file not opened.
void KeepTimes(PassEvents& events, RunRecord& run) {
    run.latency = std::move(events.latency);
    run.intervals = std::move(events.intervals);
    run.intervalsNotKept = events.intervalsNotKept;
    run.failures = std::move(events.failureKinds);
    run.cause = std::move(events.cause);
    if (run.cause.empty() && run.outcome == Outcome::TestFileNotOpened && !run.failures.empty()) {
        run.cause = run.failures.front().text;
    }
}

} // namespace

Outcome FileIoOutcome(int engineResult, const std::vector<std::string>& texts,
                      std::uint64_t failures) {
    if (engineResult == ZEB_TEST_FILE_NOT_OPENED) {
        return Outcome::TestFileNotOpened;
    }
    if (!Contains(texts, zebtext::kFileIoFailed) && !Contains(texts, zebtext::kFileIoPassed)) {
        return Outcome::NotRun;
    }
    return failures > 0 ? Outcome::Failed : Outcome::Passed;
}

Outcome ReceiveOutcome(int engineResult, const std::vector<std::string>& texts) {
    if (Contains(texts, zebtext::kReceiverTimeout)) {
        return Outcome::NoSender;
    }
    if (AnyStartsWith(texts, zebtext::kSessionNotCreated)) {
        return Outcome::ListenFailed;
    }
    if (Contains(texts, zebtext::kSessionClosed)) {
        return AnyStartsWith(texts, zebtext::kPairErrorPrefix) ||
                       AnyStartsWith(texts, zebtext::kBlockVerifyFailed)
                   ? Outcome::CompletedWithDataErrors
                   : Outcome::Completed;
    }
    if (AnyStartsWith(texts, zebtext::kReceiveError)) {
        return Outcome::ReceiveError;
    }
    if (engineResult == ZEB_NAME_NOT_ADDED && AnyContains(texts, zebtext::kAddNameError)) {
        return Outcome::NameNotAdded;
    }
    return Outcome::Ended;
}

std::vector<std::uint32_t> SweepBufferSizes(const Options& options) {
    std::vector<std::uint32_t> sizes;
    const sweep::Plan plan{options.path,          options.fromSize,  options.toSize,
                           options.sizeIncrement, options.iteration, options.ioMode};
    sweep::Run(plan, [&](std::uint32_t size) {
        sizes.push_back(size & ~1u); // the engine lowers an odd size by one
        return 0;
    });
    return sizes;
}

// The engine's verdict text among a pass's texts; empty when it posted none.
std::string Verdict(const std::vector<std::string>& texts) {
    for (const char* verdict : {zebtext::kFileIoFailed, zebtext::kFileIoPassed}) {
        if (Contains(texts, verdict)) {
            return verdict;
        }
    }
    return {};
}

std::mutex& RunsMutex() {
    static std::mutex mutex;
    return mutex;
}

// Nanoseconds of CLOCK_MONOTONIC at a board text (steady_clock is that clock).
std::uint64_t BoardNs(const BoardText& text) {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(text.at.time_since_epoch()).count());
}

double SecondsBetween(std::uint64_t from, std::uint64_t to) {
    return (static_cast<double>(to) - static_cast<double>(from)) / 1e9;
}

bool RunFileIoSweep(const Options& options, ConsoleBoard& board, Progress& progress,
                    Recorder& recorder, std::vector<RunRecord>& runs,
                    const std::function<bool()>& stopping, Released* released) {
    SetFileCacheMode(options.cacheMode);
    GetHWND(&board);
    board.TakeTexts();
    const bool local = DescribeTarget(options).backend == "posix";
    const sweep::Plan plan{options.path,          options.fromSize,  options.toSize,
                           options.sizeIncrement, options.iteration, options.ioMode};
    // A damaged pair's bytes reach the board before its report, which a 0x00 among them cuts.
    recorder.SetFailureTap([&board](const ZebEvent& failure) {
        if (failure.failure == ZEB_FAILURE_BAD_PAIR) {
            board.NoteBadPair(failure.expected, failure.actual);
        }
    });
    const auto transfers =
        modes::TransfersPerIteration(static_cast<modes::AccessMode>(options.ioMode));
    progress.StartSweep(SweepBufferSizes(options).size(),
                        static_cast<std::uint64_t>(options.iteration) * transfers,
                        [&recorder] { return recorder.Live(); });
    const std::size_t first = runs.size();
    bool opened = true;
    sweep::Run(plan, [&](std::uint32_t size) {
        // Asked to stop: the sizes left pass without a pass.
        if (stopping && stopping()) {
            return 0;
        }
        progress.StartPass(runs.size() - first, size);
        std::unique_lock lock(RunsMutex());
        // Stands for the pass until it returns: the engine ends the process itself when data
        // read back differs from what a sequential read-and-write pass has just written.
        RunRecord& pending = runs.emplace_back();
        pending.start = UtcTimestamp();
        const TestTarget target = DescribeTarget(options);
        pending.kind = CommandName(Command::FileIo);
        pending.mode = options.modeText;
        pending.modeIndex = options.ioMode;
        pending.iterations = options.iteration;
        pending.cache = target.cache;
        pending.bufferSize = size;
        lock.unlock();
        int result = 0;
        // The release comes at the heading: the test file is checked and open, and no transfer
        // has been made.
        std::uint64_t releaseNs = 0;
        std::uint64_t preparedNs = 0;
        if (released != nullptr) {
            board.SetTextHook([&](const char* text) {
                if (releaseNs != 0 ||
                    !std::string_view(text).starts_with(zebtext::kPassHeadingPrefix)) {
                    return;
                }
                preparedNs = MonotonicNs();
                if (!released->release->Prepared(released->rounds)) {
                    released->stop();
                }
                releaseNs = MonotonicNs();
            });
        }
        recorder.Start();
        const std::optional<ProcessBytes> before = local ? ProcessIoBytes() : std::nullopt;
        RunRecord run = Timed(
            [&] {
                return SQL_Test(plan.path.c_str(), size, plan.to, plan.increment, plan.mode,
                                plan.iterations);
            },
            result);
        const std::optional<ProcessBytes> after = local ? ProcessIoBytes() : std::nullopt;
        progress.EndPass();
        if (before && after) {
            run.processBytesRead = after->read - before->read;
            run.processBytesWritten = after->written - before->written;
        }
        run.kind = pending.kind;
        run.mode = pending.mode;
        run.modeIndex = pending.modeIndex;
        run.iterations = pending.iterations;
        run.cache = pending.cache;
        run.bufferSize = size;
        const std::vector<BoardText> timed = board.TakeTimedTexts();
        const std::vector<std::string> texts = Texts(timed);
        PassEvents events = recorder.Take();
        board.SetTextHook({});
        run.outcome = FileIoOutcome(result, texts, events.failures);
        if (releaseNs != 0) {
            run.releaseSeconds = SecondsBetween(events.originNs, releaseNs);
            run.releaseWaitSeconds = SecondsBetween(preparedNs, releaseNs);
            if (events.firstTransferNs != 0) {
                run.firstTransferSeconds = SecondsBetween(releaseNs, events.firstTransferNs);
            }
            const auto verdict = Find(timed, timed.begin(), [](const std::string& t) {
                return t == zebtext::kFileIoPassed || t == zebtext::kFileIoFailed;
            });
            run.doneSeconds = SecondsBetween(releaseNs, verdict != timed.end() ? BoardNs(*verdict)
                                                                               : MonotonicNs());
        }
        KeepTimes(events, run);
        run.engineVerdict = Verdict(texts);
        if (!run.engineVerdict.empty()) {
            run.reads = events.reads;
            run.writes = events.writes;
            run.operations = events.reads.operations + events.writes.operations;
            run.failedOperations = events.reads.failed + events.writes.failed;
            run.transferBytes = events.reads.bytes + events.writes.bytes;
            run.transferSeconds = Between(
                timed,
                [](const std::string& t) { return t.starts_with(zebtext::kPassHeadingPrefix); },
                [](const std::string& t) {
                    return t == zebtext::kFileIoPassed || t == zebtext::kFileIoFailed;
                });
        }
        const std::vector<std::string> failures = QuietLines(run.failures);
        if (options.quiet && !run.Passed() && !failures.empty()) {
            for (const std::string& line : failures) {
                board.PrintAlways(line);
            }
        } else {
            ShowFailure(run, texts, board, options.quiet);
        }
        opened = result != ZEB_TEST_FILE_NOT_OPENED;
        if (releaseNs != 0) {
            released->release->Ended(released->rounds++, run.Passed());
        }
        lock.lock();
        runs.back() = std::move(run);
        return result;
    });
    recorder.SetFailureTap({});
    return opened;
}

std::vector<RunRecord> RunSender(const Options& options, ConsoleBoard& board, Progress& progress,
                                 Recorder& recorder) {
    GetHWND(&board);
    board.Print(boardtext::kSendStartText);
    board.TakeTexts();
    progress.StartSession(false);
    int result = 0;
    recorder.Start();
    RunRecord run = Timed([&] { return SSendMain(options.blocks, options.bufferSize); }, result);
    PassEvents events = recorder.Take();
    run.kind = CommandName(Command::Send);
    const std::vector<BoardText> timed = board.TakeTimedTexts();
    switch (result & 0xFFFF) {
    case ZEB_SESSION_RAN: {
        run.summary = GetMsgBuffer();
        const bool whole = run.summary.find(zebtext::kSendFailedSuffix) == std::string::npos;
        run.outcome = whole ? Outcome::Sent : Outcome::SendError;
        run.engineRate = RateText(run.summary);
        run.transferBytes = NumberAfter(run.summary, "KB/s ");
        // The working size: the low 16 bits, at most 64000, even.
        const std::uint64_t size =
            std::min<std::uint32_t>(options.bufferSize & 0xFFFF, 64000) & ~1u;
        if (whole) {
            run.blocks = static_cast<std::uint64_t>(options.blocks);
        } else if (run.transferBytes && size > 0) {
            run.blocks = *run.transferBytes / size;
        }
        const std::string summary = run.summary;
        run.transferSeconds = Between(
            timed, [](const std::string& t) { return t.starts_with("SEND SESSION BEGIN"); },
            [&](const std::string& t) { return t == summary; });
        break;
    }
    case ZEB_NO_PARTNER:
        run.outcome = Outcome::NoReceiver;
        break;
    case ZEB_NAME_NOT_ADDED:
        run.outcome = Outcome::NameNotAdded;
        break;
    default:
        run.outcome = Outcome::EngineResult;
        break;
    }
    KeepTimes(events, run);
    ShowFailure(run, Texts(timed), board, options.quiet);
    board.Print(EngineLine(SenderBoardText(result, GetMsgBuffer())));
    return {run};
}

std::vector<RunRecord> RunReceiver(const Options& options, ConsoleBoard& board, Progress& progress,
                                   Recorder& recorder) {
    GetHWND(&board);
    board.Print(boardtext::kReceiveStartText);
    board.TakeTexts();
    progress.StartSession(true);
    int result = 0;
    recorder.Start();
    RunRecord run = Timed([] { return static_cast<int>(SRecvMain()); }, result);
    PassEvents events = recorder.Take();
    run.kind = CommandName(Command::Receive);
    const std::vector<BoardText> timed = board.TakeTimedTexts();
    const std::vector<std::string> texts = Texts(timed);
    run.outcome = ReceiveOutcome(result, texts);
    KeepTimes(events, run);
    if (Contains(texts, zebtext::kSessionClosed) || AnyStartsWith(texts, zebtext::kReceiveError)) {
        run.blocks = static_cast<std::uint64_t>(
            std::count_if(texts.begin(), texts.end(),
                          [](const std::string& t) { return ReceivedBlockBytes(t); }));
        for (const std::string& text : texts) {
            if (text.ends_with(" Bytes received.")) {
                run.transferBytes = NumberAfter(text, "");
            } else if (text.ends_with(" KB/s")) {
                run.engineRate = RateText(text);
            }
        }
        run.transferSeconds = Between(
            timed, [](const std::string& t) { return t == "RECEIVE SESSION BEGIN "; },
            [](const std::string& t) { return t == "RECEIVE SESSION END "; });
    }
    ShowFailure(run, texts, board, options.quiet);
    board.Print(boardtext::kReceiveDoneText);
    return {run};
}

} // namespace zebcli
