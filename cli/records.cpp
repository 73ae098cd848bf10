#include "records.h"

namespace zebcli {

const char* CommandName(Command command) {
    switch (command) {
    case Command::FileIo:
        return "fileio";
    case Command::Send:
        return "send";
    case Command::Receive:
        return "recv";
    case Command::Merge:
        return "merge";
    case Command::Log:
        break;
    }
    return "log";
}

std::string OutcomeText(Outcome outcome, std::optional<int> engineResult) {
    switch (outcome) {
    case Outcome::EndedByEngine:
        return "process ended by the engine";
    case Outcome::Passed:
        return "passed";
    case Outcome::Failed:
        return "failed";
    case Outcome::TestFileNotOpened:
        return "test file not opened";
    case Outcome::NotRun:
        return "not run";
    case Outcome::Sent:
        return "sent";
    case Outcome::SendError:
        return "send error";
    case Outcome::NoReceiver:
        return "no receiver";
    case Outcome::NameNotAdded:
        return "name not added";
    case Outcome::EngineResult:
        return "result " + std::to_string(engineResult.value_or(0));
    case Outcome::NoSender:
        return "no sender";
    case Outcome::ListenFailed:
        return "listen failed";
    case Outcome::Completed:
        return "completed";
    case Outcome::CompletedWithDataErrors:
        return "completed with data errors";
    case Outcome::ReceiveError:
        return "receive error";
    case Outcome::Ended:
        break;
    }
    return "ended";
}

bool RunRecord::Passed() const {
    return outcome == Outcome::Passed || outcome == Outcome::Sent || outcome == Outcome::Completed;
}

std::optional<double> RunRecord::BytesPerSecond() const {
    if (!transferBytes || !transferSeconds || *transferSeconds <= 0) {
        return std::nullopt;
    }
    return static_cast<double>(*transferBytes) / *transferSeconds;
}

histogram::Histogram RunRecord::AllLatency() const {
    histogram::Histogram all;
    for (const auto& [kind, h] : latency) {
        all.Merge(h);
    }
    return all;
}

std::optional<double> RunRecord::OperationsPerSecond() const {
    if (!operations || !transferSeconds || *transferSeconds <= 0) {
        return std::nullopt;
    }
    return static_cast<double>(*operations) / *transferSeconds;
}

std::optional<double> RunTotals::BytesPerSecond() const {
    if (transferSeconds <= 0) {
        return std::nullopt;
    }
    return static_cast<double>(bytes) / transferSeconds;
}

RunTotals Totals(const std::vector<RunRecord>& runs) {
    RunTotals totals;
    totals.runs = runs.size();
    for (const RunRecord& run : runs) {
        totals.elapsedSeconds += run.elapsedSeconds;
        if (run.transferBytes && run.transferSeconds) {
            totals.bytes += *run.transferBytes;
            totals.transferSeconds += *run.transferSeconds;
        }
        totals.operations += run.operations.value_or(0);
        totals.notPassed += run.Passed() ? 0 : 1;
    }
    return totals;
}

} // namespace zebcli
