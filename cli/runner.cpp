#include "runner.h"

#include "sweep.h"
#include "testfs.h"
#include "zebdll.h"
#include "zebtexts.h"

#include <algorithm>
#include <chrono>

namespace zebcli {

namespace {

// Times one engine call on the monotonic clock and records when it started.
template <typename Call> RunRecord Timed(Call call, int& engineResult) {
    RunRecord run{};
    run.start = UtcTimestamp();
    const auto begin = std::chrono::steady_clock::now();
    engineResult = call();
    run.elapsedSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
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

} // namespace

std::string FileIoOutcome(int engineResult, const std::vector<std::string>& texts) {
    if (engineResult == ZEB_TEST_FILE_NOT_OPENED) {
        return "test file not opened";
    }
    if (Contains(texts, zebtext::kFileIoFailed)) {
        return "failed";
    }
    if (Contains(texts, zebtext::kFileIoPassed)) {
        return "passed";
    }
    return "not run";
}

std::string ReceiveOutcome(int engineResult, const std::vector<std::string>& texts) {
    if (Contains(texts, zebtext::kReceiverTimeout)) {
        return "no sender";
    }
    if (AnyStartsWith(texts, zebtext::kSessionNotCreated)) {
        return "listen failed";
    }
    if (Contains(texts, zebtext::kSessionClosed)) {
        return AnyStartsWith(texts, zebtext::kPairErrorPrefix) ? "completed with data errors"
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

std::vector<RunRecord> RunFileIoSweep(const Options& options, ConsoleBoard& board) {
    std::vector<RunRecord> runs;
    SetFileCacheMode(options.cacheMode);
    GetHWND(&board);
    board.TakeTexts();
    const sweep::Plan plan{options.path,          options.fromSize,  options.toSize,
                           options.sizeIncrement, options.iteration, options.ioMode};
    sweep::Run(plan, [&](std::uint32_t size) {
        int result = 0;
        const std::optional<ProcessBytes> before = ProcessIoBytes();
        RunRecord run = Timed(
            [&] {
                return SQL_Test(plan.path.c_str(), size, plan.to, plan.increment, plan.mode,
                                plan.iterations);
            },
            result);
        const std::optional<ProcessBytes> after = ProcessIoBytes();
        if (before && after) {
            run.bytesRead = after->read - before->read;
            run.bytesWritten = after->written - before->written;
        }
        run.bufferSize = size;
        run.outcome = FileIoOutcome(result, board.TakeTexts());
        if ((run.outcome == "passed" || run.outcome == "failed") && run.elapsedSeconds > 0) {
            run.operationsPerSecond = plan.iterations / run.elapsedSeconds;
        }
        runs.push_back(std::move(run));
        return result;
    });
    return runs;
}

std::vector<RunRecord> RunSender(const Options& options, ConsoleBoard& board) {
    GetHWND(&board);
    board.Print(boardtext::kSendStartText);
    board.TakeTexts();
    int result = 0;
    RunRecord run = Timed([&] { return SSendMain(options.blocks, options.bufferSize); }, result);
    board.TakeTexts();
    switch (result & 0xFFFF) {
    case ZEB_SESSION_RAN:
        run.summary = GetMsgBuffer();
        run.outcome = run.summary.find(zebtext::kSendFailedSuffix) != std::string::npos
                          ? "send error"
                          : "sent";
        break;
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
    board.Print(SenderBoardText(result, GetMsgBuffer()));
    return {run};
}

std::vector<RunRecord> RunReceiver(ConsoleBoard& board) {
    GetHWND(&board);
    board.Print(boardtext::kReceiveStartText);
    board.TakeTexts();
    int result = 0;
    RunRecord run = Timed([] { return static_cast<int>(SRecvMain()); }, result);
    run.outcome = ReceiveOutcome(result, board.TakeTexts());
    board.Print(boardtext::kReceiveDoneText);
    return {run};
}

} // namespace zebcli
