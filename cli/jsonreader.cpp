// A pass read back from the JSON results, for the merge of results collected apart: what
// jsonwriter.cpp's RunJson wrote, checked as it is read (every length and count comes from a
// file).
#include "runjson.h"

#include <stdexcept>

namespace zebcli {

namespace {

template <typename T> std::optional<T> Optional(const Json& object, const char* name) {
    const auto at = object.find(name);
    if (at == object.end() || at->is_null()) {
        return std::nullopt;
    }
    return at->get<T>();
}

std::string Text(const Json& object, const char* name) {
    return Optional<std::string>(object, name).value_or("");
}

Outcome OutcomeOf(const std::string& text) {
    for (int i = 0; i <= static_cast<int>(Outcome::Ended); ++i) {
        const auto outcome = static_cast<Outcome>(i);
        if (outcome != Outcome::EngineResult && OutcomeText(outcome) == text) {
            return outcome;
        }
    }
    if (text.starts_with("result ")) {
        return Outcome::EngineResult;
    }
    throw std::runtime_error("an outcome of no known kind: " + text);
}

histogram::Histogram LatencyOf(const Json& l) {
    std::vector<histogram::Histogram::Bucket> buckets;
    for (const Json& b : l.at("buckets")) {
        if (!b.is_array() || b.size() != 2) {
            throw std::runtime_error("a latency bucket that is not [index, count]");
        }
        buckets.emplace_back(b[0].get<std::uint32_t>(), b[1].get<std::uint64_t>());
    }
    std::optional<histogram::Histogram> h = histogram::Histogram::FromBuckets(
        buckets, l.at("min_ns").get<std::uint64_t>(), l.at("max_ns").get<std::uint64_t>(),
        l.at("mean_ns").get<double>(), l.at("stddev_ns").get<double>());
    if (!h || h->Count() != l.at("count").get<std::uint64_t>()) {
        throw std::runtime_error("latency buckets that do not fit their count, minimum or maximum");
    }
    return *h;
}

} // namespace

RunRecord RunFromJson(const Json& r) {
    RunRecord run;
    run.kind = CommandName(Command::FileIo);
    run.bufferSize = Optional<std::uint32_t>(r, "buffer_size");
    run.mode = Text(r, "mode");
    run.modeIndex = Optional<int>(r, "mode_index");
    run.iterations = Optional<std::uint32_t>(r, "iterations");
    run.cache = Text(r, "cache");
    run.start = Text(r, "start");
    run.engineResult = Optional<int>(r, "engine_result");
    run.outcome = OutcomeOf(r.at("outcome").get<std::string>());
    run.resultCode = r.at("result_code").get<int>();
    run.elapsedSeconds = r.at("elapsed_seconds").get<double>();
    run.engineVerdict = Text(r, "engine_verdict");
    run.processBytesRead = Optional<std::uint64_t>(r, "process_bytes_read");
    run.processBytesWritten = Optional<std::uint64_t>(r, "process_bytes_written");
    run.operations = Optional<std::uint64_t>(r, "operations");
    run.failedOperations = Optional<std::uint64_t>(r, "failed_operations");
    for (const auto& [name, counts] : {std::pair{"reads", &run.reads}, {"writes", &run.writes}}) {
        if (const auto at = r.find(name); at != r.end()) {
            *counts = TransferCounts{at->at("operations").get<std::uint64_t>(),
                                     at->at("failed").get<std::uint64_t>(),
                                     at->at("bytes").get<std::uint64_t>()};
        }
    }
    run.cause = Text(r, "cause");
    run.transferBytes = Optional<std::uint64_t>(r, "bytes");
    run.transferSeconds = Optional<double>(r, "transfer_seconds");
    for (const auto& [name, l] : r.at("latency").items()) {
        run.latency.emplace(name, LatencyOf(l));
    }
    for (const Json& i : r.at("intervals")) {
        run.intervals.push_back(
            {i.at("start_seconds").get<double>(), i.at("seconds").get<double>(),
             i.at("operations").get<std::uint64_t>(), i.at("bytes").get<std::uint64_t>(),
             i.at("failures").get<std::uint64_t>(), i.at("p50_ns").get<std::uint64_t>(),
             i.at("p99_ns").get<std::uint64_t>(), i.at("max_ns").get<std::uint64_t>(),
             std::nullopt});
    }
    run.intervalsNotKept = Optional<std::uint64_t>(r, "intervals_not_kept").value_or(0);
    for (const Json& f : r.at("failures")) {
        run.failures.push_back({f.at("kind").get<std::string>(), f.at("count").get<std::uint64_t>(),
                                f.at("first_offset").get<long long>(),
                                f.at("last_offset").get<long long>(), f.at("expected").get<int>(),
                                f.at("actual").get<int>(), Text(f, "text")});
    }
    if (const auto at = r.find("release"); at != r.end()) {
        run.releaseSeconds = at->at("origin_seconds").get<double>();
        run.releaseWaitSeconds = Optional<double>(*at, "wait_seconds");
        run.firstTransferSeconds = Optional<double>(*at, "first_transfer_seconds");
        run.doneSeconds = Optional<double>(*at, "done_seconds");
    }
    return run;
}

} // namespace zebcli
