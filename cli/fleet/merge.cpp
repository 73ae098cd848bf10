#include "fleet/merge.h"

#include "runjson.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>

namespace zebcli::fleet {

namespace {

// A client's pass on its own clock from its release: where it ends, and where the intervals'
// zero lies. A pass of a result run without a release counts from its heading.
double DoneSeconds(const RunRecord& run) {
    return run.doneSeconds.value_or(run.transferSeconds.value_or(run.elapsedSeconds));
}

double OriginSeconds(const RunRecord& run) {
    return run.releaseSeconds.value_or(0);
}

void AddCounts(std::optional<TransferCounts>& into, const std::optional<TransferCounts>& from) {
    if (!from) {
        return;
    }
    if (!into) {
        into = TransferCounts{};
    }
    into->operations += from->operations;
    into->failed += from->failed;
    into->bytes += from->bytes;
}

template <typename T> void AddOptional(std::optional<T>& into, const std::optional<T>& from) {
    if (from) {
        into = into.value_or(T{}) + *from;
    }
}

void AddFailures(std::vector<FailureRecord>& into, const std::vector<FailureRecord>& from) {
    for (const FailureRecord& f : from) {
        const auto same = std::find_if(into.begin(), into.end(),
                                       [&](const FailureRecord& g) { return g.kind == f.kind; });
        if (same == into.end()) {
            into.push_back(f);
        } else {
            same->count += f.count;
            same->lastOffset = f.lastOffset;
        }
    }
}

// The interval of the whole that the middle of a client's interval lies in.
long long BinOf(const IntervalRecord& i, double origin, double intervalSeconds) {
    const double middle = i.startSeconds - origin + i.seconds / 2;
    return static_cast<long long>(std::max(0.0, std::floor(middle / intervalSeconds)));
}

// The lowest and highest of the clients' rates in each interval of the whole: every client
// counts in every interval its pass spans (from its release to its verdict), with 0 where it
// moved nothing.
void AddClientRates(std::map<long long, IntervalRecord>& bins,
                    const std::vector<const RunRecord*>& runs, double intervalSeconds) {
    for (auto& [bin, interval] : bins) {
        for (const RunRecord* run : runs) {
            if (static_cast<double>(bin) * intervalSeconds >= DoneSeconds(*run)) {
                continue;
            }
            std::uint64_t bytes = 0;
            for (const IntervalRecord& i : run->intervals) {
                if (BinOf(i, OriginSeconds(*run), intervalSeconds) == bin) {
                    bytes += i.bytes;
                }
            }
            const double rate = static_cast<double>(bytes) / intervalSeconds;
            interval.clientRates = interval.clientRates
                                       ? std::pair(std::min(interval.clientRates->first, rate),
                                                   std::max(interval.clientRates->second, rate))
                                       : std::pair(rate, rate);
        }
    }
}

// The clients' intervals in the intervals of the whole, by where their middle lies.
void AddIntervals(std::map<long long, IntervalRecord>& bins, const RunRecord& run,
                  double intervalSeconds) {
    const double origin = OriginSeconds(run);
    for (const IntervalRecord& i : run.intervals) {
        const long long bin = BinOf(i, origin, intervalSeconds);
        IntervalRecord& b = bins[bin];
        b.startSeconds = static_cast<double>(bin) * intervalSeconds;
        b.seconds = intervalSeconds;
        b.operations += i.operations;
        b.bytes += i.bytes;
        b.failures += i.failures;
        b.p50Ns = std::max(b.p50Ns, i.p50Ns);
        b.p99Ns = std::max(b.p99Ns, i.p99Ns);
        b.maxNs = std::max(b.maxNs, i.maxNs);
    }
}

// What a client's pass moved from its release to window seconds after it: each interval cut
// at the release and the verdict, the one the window ends in taken pro rata.
std::pair<double, double> MovedWithin(const RunRecord& run, double window) {
    const double origin = OriginSeconds(run);
    const double done = DoneSeconds(run);
    double bytes = 0;
    double operations = 0;
    for (const IntervalRecord& i : run.intervals) {
        const double from = std::max(i.startSeconds - origin, 0.0);
        const double to = std::min(i.startSeconds - origin + i.seconds, done);
        double share = 1;
        if (to <= from) {
            share = from <= window ? 1 : 0;
        } else {
            share = std::clamp((std::min(to, window) - from) / (to - from), 0.0, 1.0);
        }
        bytes += share * static_cast<double>(i.bytes);
        operations += share * static_cast<double>(i.operations);
    }
    return {bytes, operations};
}

MergedPass MergePass(const std::vector<const RunRecord*>& runs, double intervalSeconds) {
    MergedPass pass;
    RunRecord& all = pass.all;
    const RunRecord& first = *runs.front();
    all.kind = first.kind;
    all.bufferSize = first.bufferSize;
    all.mode = first.mode;
    all.modeIndex = first.modeIndex;
    all.iterations = first.iterations;
    all.cache = first.cache;
    all.start = first.start;
    all.resultCode = ZEB_RESULT_PASSED;
    pass.clients = runs.size();
    std::map<long long, IntervalRecord> bins;
    std::vector<double> rates;
    std::vector<double> operationRates;
    pass.firstDoneSeconds = DoneSeconds(first);
    for (const RunRecord* run : runs) {
        all.start = std::min(all.start, run->start);
        all.elapsedSeconds = std::max(all.elapsedSeconds, run->elapsedSeconds);
        if (run->resultCode != ZEB_RESULT_PASSED) {
            all.resultCode = run->resultCode;
        }
        AddOptional(all.operations, run->operations);
        AddOptional(all.failedOperations, run->failedOperations);
        AddOptional(all.transferBytes, run->transferBytes);
        AddOptional(all.processBytesRead, run->processBytesRead);
        AddOptional(all.processBytesWritten, run->processBytesWritten);
        AddCounts(all.reads, run->reads);
        AddCounts(all.writes, run->writes);
        if (all.cause.empty()) {
            all.cause = run->cause;
        }
        for (const auto& [kind, h] : run->latency) {
            all.latency[kind].Merge(h);
        }
        AddIntervals(bins, *run, intervalSeconds);
        all.intervalsNotKept += run->intervalsNotKept;
        AddFailures(all.failures, run->failures);
        pass.clientsPassed += run->Passed() ? 1 : 0;
        pass.firstDoneSeconds = std::min(pass.firstDoneSeconds, DoneSeconds(*run));
        pass.lastDoneSeconds = std::max(pass.lastDoneSeconds, DoneSeconds(*run));
        if (const auto rate = run->BytesPerSecond()) {
            rates.push_back(*rate);
        }
        if (const auto rate = run->OperationsPerSecond()) {
            operationRates.push_back(*rate);
        }
        if (run->firstTransferSeconds) {
            pass.firstTransferMin =
                std::min(pass.firstTransferMin.value_or(*run->firstTransferSeconds),
                         *run->firstTransferSeconds);
            pass.firstTransferMax =
                std::max(pass.firstTransferMax.value_or(*run->firstTransferSeconds),
                         *run->firstTransferSeconds);
        }
    }
    for (const RunRecord* run : runs) {
        const auto [bytes, operations] = MovedWithin(*run, pass.firstDoneSeconds);
        pass.windowBytes += bytes;
        pass.windowOperations += operations;
    }
    AddClientRates(bins, runs, intervalSeconds);
    for (auto& [bin, interval] : bins) {
        all.intervals.push_back(interval);
    }
    // The last interval of the whole ends with the last client's pass.
    if (!all.intervals.empty()) {
        IntervalRecord& last = all.intervals.back();
        if (pass.lastDoneSeconds > last.startSeconds) {
            last.seconds = std::min(last.seconds, pass.lastDoneSeconds - last.startSeconds);
        }
    }
    all.outcome = pass.clientsPassed == pass.clients ? Outcome::Passed : Outcome::Failed;
    if (all.transferBytes) {
        all.transferSeconds = pass.lastDoneSeconds;
    }
    pass.bytesPerSecond = SpreadOf(rates);
    pass.operationsPerSecond = SpreadOf(operationRates);
    return pass;
}

} // namespace

bool ClientResult::Failed() const {
    return !Failure().empty();
}

std::string ClientResult::Failure() const {
    if (!ended.empty()) {
        return ended;
    }
    if (runs.empty() && !stopped) {
        return "no pass ran";
    }
    for (std::size_t i = 0; i < runs.size(); ++i) {
        if (!runs[i].Passed()) {
            return "pass " + std::to_string(i + 1) + " " + runs[i].OutcomeText();
        }
    }
    return {};
}

std::optional<double> MergedPass::WindowBytesPerSecond() const {
    return firstDoneSeconds > 0 ? std::optional(windowBytes / firstDoneSeconds) : std::nullopt;
}

std::optional<double> MergedPass::WindowOperationsPerSecond() const {
    return firstDoneSeconds > 0 ? std::optional(windowOperations / firstDoneSeconds) : std::nullopt;
}

Spread SpreadOf(const std::vector<double>& values) {
    Spread s;
    s.count = values.size();
    if (values.empty()) {
        return s;
    }
    s.min = *std::min_element(values.begin(), values.end());
    s.max = *std::max_element(values.begin(), values.end());
    double sum = 0;
    for (const double v : values) {
        sum += v;
    }
    s.mean = sum / static_cast<double>(values.size());
    double squares = 0;
    for (const double v : values) {
        squares += (v - s.mean) * (v - s.mean);
    }
    s.stddev = std::sqrt(squares / static_cast<double>(values.size()));
    return s;
}

std::vector<std::string> MergedResult::FailedClients() const {
    std::vector<std::string> failed;
    for (const ClientResult& client : clients) {
        if (client.Failed()) {
            failed.push_back(client.name);
        }
    }
    return failed;
}

MergedResult Merge(std::vector<ClientResult> clients) {
    MergedResult merged;
    std::size_t passes = 0;
    for (const ClientResult& client : clients) {
        passes = std::max(passes, client.runs.size());
    }
    if (!clients.empty()) {
        merged.intervalSeconds = clients.front().intervalSeconds;
        for (const ClientResult& client : clients) {
            merged.intervalSeconds = std::max(merged.intervalSeconds, client.intervalSeconds);
        }
    }
    for (std::size_t i = 0; i < passes; ++i) {
        std::vector<const RunRecord*> runs;
        for (const ClientResult& client : clients) {
            if (i < client.runs.size()) {
                runs.push_back(&client.runs[i]);
            }
        }
        merged.passes.push_back(MergePass(runs, merged.intervalSeconds));
    }
    merged.clients = std::move(clients);
    return merged;
}

std::optional<ClientResult> ClientFromJson(const std::string& text, std::string& error) {
    try {
        const Json doc = Json::parse(text);
        if (doc.at("command").get<std::string>() != "fileio") {
            error = "not the result of zebcli fileio";
            return std::nullopt;
        }
        if (doc.contains("clients")) {
            error = "a result of several clients already (merge the clients' own results)";
            return std::nullopt;
        }
        ClientResult client;
        client.host = doc.value("host", "");
        client.path = doc.at("parameters").value("path", "");
        client.intervalSeconds = doc.value("interval_seconds", 1.0);
        client.clock = doc.value("clock", "");
        if (!(client.intervalSeconds > 0)) {
            error = "an interval_seconds that is not above 0";
            return std::nullopt;
        }
        for (const Json& run : doc.at("runs")) {
            client.runs.push_back(RunFromJson(run));
        }
        return client;
    } catch (const std::exception& e) {
        error = e.what();
        return std::nullopt;
    }
}

std::optional<std::string> ResultsText(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        error = std::strerror(errno);
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<std::uint64_t>(st.st_size) > kMaxResultsBytes) {
        ::close(fd);
        error = "not a regular file of at most " + std::to_string(kMaxResultsBytes >> 20) + " MiB";
        return std::nullopt;
    }
    std::string text;
    char buffer[65536];
    ssize_t n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
        if (n > 0) {
            text.append(buffer, static_cast<std::size_t>(n));
        }
        if (text.size() > kMaxResultsBytes) {
            ::close(fd);
            error = "longer than " + std::to_string(kMaxResultsBytes >> 20) + " MiB";
            return std::nullopt;
        }
    }
    ::close(fd);
    if (n < 0) {
        error = std::strerror(errno);
        return std::nullopt;
    }
    return text;
}

std::optional<ClientResult> ClientFromFile(const std::string& path, std::string& error) {
    const std::optional<std::string> text = ResultsText(path, error);
    if (!text) {
        return std::nullopt;
    }
    std::optional<ClientResult> client = ClientFromJson(*text, error);
    if (client) {
        client->directory = path;
    }
    return client;
}

} // namespace zebcli::fleet
