#include "runner.h"

#include "fields.h"
#include "testfs.h"
#include "zebdll.h"

#include <algorithm>
#include <chrono>

namespace zebcli {

namespace {

constexpr std::size_t kBoardTextBytes = 119; // 120 characters with the terminator

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
    if (engineResult == 100) {
        return "test file not opened";
    }
    if (Contains(texts, "File I/O Failed")) {
        return "failed";
    }
    if (Contains(texts, "File I/O Passed")) {
        return "passed";
    }
    return "not run";
}

std::string ReceiveOutcome(int engineResult, const std::vector<std::string>& texts) {
    if (Contains(texts, "Receiver Timeout: please start again.")) {
        return "no sender";
    }
    if (AnyStartsWith(texts, "Error: Session not Created..")) {
        return "listen failed";
    }
    if (Contains(texts, "Session closed by Sender")) {
        return AnyStartsWith(texts, "\nExpected ") ? "completed with data errors" : "completed";
    }
    if (AnyStartsWith(texts, "Netbios Error Return")) {
        return "receive error";
    }
    if (engineResult == 0 && AnyContains(texts, "error with add name")) {
        return "name not added";
    }
    return "ended";
}

std::string SenderBoardText(int engineResult, const char* summary) {
    if ((engineResult & 0xFFFF) != 1) {
        return "Sender Timeout: no receiver, command cancelled !";
    }
    std::string text = summary == nullptr ? "" : summary;
    text += "Read REPORT.TXT if checked Save Results";
    return std::string(fields::CutToBytes(text, kBoardTextBytes));
}

std::vector<std::uint32_t> SweepBufferSizes(const Options& options) {
    std::vector<std::uint32_t> sizes;
    for (std::uint32_t size = options.fromSize; size <= options.toSize;
         size += options.sizeIncrement) {
        sizes.push_back(size & ~1u); // the engine lowers an odd size by one
    }
    return sizes;
}

std::vector<RunRecord> RunFileIoSweep(const Options& options, ConsoleBoard& board) {
    std::vector<RunRecord> runs;
    SetFileCacheMode(options.cacheMode);
    GetHWND(&board);
    board.TakeTexts();
    for (std::uint32_t size = options.fromSize; size <= options.toSize;
         size += options.sizeIncrement) {
        int result = 0;
        const std::optional<ProcessBytes> before = ProcessIoBytes();
        RunRecord run = Timed(
            [&] {
                return SQL_Test(options.path.c_str(), size, options.toSize, options.sizeIncrement,
                                options.ioMode, options.iteration);
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
            run.operationsPerSecond = options.iteration / run.elapsedSeconds;
        }
        runs.push_back(std::move(run));
        if (result == 100) {
            break;
        }
    }
    return runs;
}

std::vector<RunRecord> RunSender(const Options& options, ConsoleBoard& board) {
    GetHWND(&board);
    board.Print("Start transmission...");
    board.TakeTexts();
    int result = 0;
    RunRecord run = Timed([&] { return SSendMain(options.blocks, options.bufferSize); }, result);
    board.TakeTexts();
    switch (result & 0xFFFF) {
    case 1:
        run.summary = GetMsgBuffer();
        run.outcome =
            run.summary.find("Data Corrupted!") != std::string::npos ? "send error" : "sent";
        break;
    case 10:
        run.outcome = "no receiver";
        break;
    case 0:
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
    board.Print("Start receive process...");
    board.TakeTexts();
    int result = 0;
    RunRecord run = Timed([] { return static_cast<int>(SRecvMain()); }, result);
    run.outcome = ReceiveOutcome(result, board.TakeTexts());
    board.Print("Receive complete!");
    return {run};
}

} // namespace zebcli
