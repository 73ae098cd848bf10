#include "runner.h"

#include "passevents.h"
#include "sweep.h"
#include "testfs.h"
#include "zebdll.h"
#include "zebtexts.h"

#include <algorithm>
#include <charconv>
#include <chrono>

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
        board.PrintAlways(BoardLine(text.c_str()) +
                          (count > 1 ? " (" + std::to_string(count) + " times)" : ""));
    }
}

std::string Rate(const RunRecord& run) {
    char text[64];
    if (const std::optional<double> rate = run.BytesPerSecond()) {
        std::snprintf(text, sizeof text, "%10.2f MB/s", *rate / 1e6);
    } else {
        std::snprintf(text, sizeof text, "%10s MB/s", "-");
    }
    return text;
}

} // namespace

std::string FileIoOutcome(int engineResult, const std::vector<std::string>& texts,
                          std::uint64_t failures) {
    if (engineResult == ZEB_TEST_FILE_NOT_OPENED) {
        return "test file not opened";
    }
    if (!Contains(texts, zebtext::kFileIoFailed) && !Contains(texts, zebtext::kFileIoPassed)) {
        return "not run";
    }
    return failures > 0 ? "failed" : "passed";
}

std::string ReceiveOutcome(int engineResult, const std::vector<std::string>& texts) {
    if (Contains(texts, zebtext::kReceiverTimeout)) {
        return "no sender";
    }
    if (AnyStartsWith(texts, zebtext::kSessionNotCreated)) {
        return "listen failed";
    }
    if (Contains(texts, zebtext::kSessionClosed)) {
        return AnyStartsWith(texts, zebtext::kPairErrorPrefix) ||
                       AnyStartsWith(texts, zebtext::kBlockVerifyFailed)
                   ? "completed with data errors"
                   : "completed";
    }
    if (AnyStartsWith(texts, zebtext::kReceiveError)) {
        return "receive error";
    }
    if (engineResult == ZEB_NAME_NOT_ADDED && AnyContains(texts, zebtext::kAddNameError)) {
        return "name not added";
    }
    return "ended";
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

void RunFileIoSweep(const Options& options, ConsoleBoard& board, Progress& progress,
                    std::vector<RunRecord>& runs) {
    SetFileCacheMode(options.cacheMode);
    GetHWND(&board);
    board.TakeTexts();
    PassObserver observer;
    const bool local = DescribeTarget(options).backend == "posix";
    const sweep::Plan plan{options.path,          options.fromSize,  options.toSize,
                           options.sizeIncrement, options.iteration, options.ioMode};
    progress.StartSweep(SweepBufferSizes(options).size());
    sweep::Run(plan, [&](std::uint32_t size) {
        progress.StartPass(runs.size(), size);
        // Stands for the pass until it returns: the engine ends the process itself when data
        // read back differs from what a sequential read-and-write pass has just written.
        RunRecord& pending = runs.emplace_back();
        pending.start = UtcTimestamp();
        pending.outcome = kEndedByEngine;
        pending.bufferSize = size;
        int result = 0;
        observer.Take();
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
        run.bufferSize = size;
        const std::vector<BoardText> timed = board.TakeTimedTexts();
        const std::vector<std::string> texts = Texts(timed);
        const PassEvents events = observer.Take();
        run.outcome = FileIoOutcome(result, texts, events.failures);
        run.engineVerdict = Verdict(texts);
        if (!run.engineVerdict.empty()) {
            run.reads = events.reads;
            run.writes = events.writes;
            run.operations = events.reads.operations + events.writes.operations;
            run.failedOperations = events.reads.failed + events.writes.failed;
            run.transferBytes = events.reads.bytes + events.writes.bytes;
            run.cause = events.cause;
            run.transferSeconds = Between(
                timed, [](const std::string& t) { return t.starts_with("Test File: "); },
                [](const std::string& t) {
                    return t == zebtext::kFileIoPassed || t == zebtext::kFileIoFailed;
                });
        }
        ShowFailure(run, texts, board, options.quiet);
        runs.back() = std::move(run);
        return result;
    });
}

std::vector<RunRecord> RunSender(const Options& options, ConsoleBoard& board, Progress& progress) {
    GetHWND(&board);
    board.Print(boardtext::kSendStartText);
    board.TakeTexts();
    progress.StartSession(false);
    int result = 0;
    RunRecord run = Timed([&] { return SSendMain(options.blocks, options.bufferSize); }, result);
    const std::vector<BoardText> timed = board.TakeTimedTexts();
    switch (result & 0xFFFF) {
    case ZEB_SESSION_RAN: {
        run.summary = GetMsgBuffer();
        const bool whole = run.summary.find(zebtext::kSendFailedSuffix) == std::string::npos;
        run.outcome = whole ? "sent" : "send error";
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
        run.outcome = "no receiver";
        break;
    case ZEB_NAME_NOT_ADDED:
        run.outcome = "name not added";
        break;
    default:
        run.outcome = "result " + std::to_string(result);
        break;
    }
    ShowFailure(run, Texts(timed), board, options.quiet);
    board.Print(SenderBoardText(result, GetMsgBuffer()));
    return {run};
}

std::vector<RunRecord> RunReceiver(const Options& options, ConsoleBoard& board,
                                   Progress& progress) {
    GetHWND(&board);
    board.Print(boardtext::kReceiveStartText);
    board.TakeTexts();
    progress.StartSession(true);
    int result = 0;
    RunRecord run = Timed([] { return static_cast<int>(SRecvMain()); }, result);
    const std::vector<BoardText> timed = board.TakeTimedTexts();
    const std::vector<std::string> texts = Texts(timed);
    run.outcome = ReceiveOutcome(result, texts);
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

std::vector<std::string> EndSummary(const Options& options, const std::vector<RunRecord>& runs) {
    std::vector<std::string> lines;
    char line[256];
    std::uint64_t bytes = 0;
    double seconds = 0;
    std::size_t notPassed = 0;
    for (const RunRecord& run : runs) {
        if (options.command == Command::FileIo) {
            const std::optional<double> ops = run.OperationsPerSecond();
            std::snprintf(line, sizeof line, "buffer %5u  %-20s %s %12.0f ops/s  %8.3f s",
                          run.bufferSize.value_or(0), run.outcome.c_str(), Rate(run).c_str(),
                          ops.value_or(0.0), run.elapsedSeconds);
        } else {
            std::snprintf(line, sizeof line, "session  %-26s %s  %llu blocks  %llu bytes",
                          run.outcome.c_str(), Rate(run).c_str(),
                          static_cast<unsigned long long>(run.blocks.value_or(0)),
                          static_cast<unsigned long long>(run.transferBytes.value_or(0)));
        }
        lines.emplace_back(line);
        if (run.transferBytes && run.transferSeconds) {
            bytes += *run.transferBytes;
            seconds += *run.transferSeconds;
        }
        notPassed += run.Passed() ? 0 : 1;
    }
    std::snprintf(line, sizeof line, "%zu %s, %zu not passed, %llu bytes at %.2f MB/s", runs.size(),
                  options.command == Command::FileIo ? "passes" : "sessions", notPassed,
                  static_cast<unsigned long long>(bytes),
                  seconds > 0 ? static_cast<double>(bytes) / seconds / 1e6 : 0.0);
    lines.emplace_back(line);
    return lines;
}

} // namespace zebcli
