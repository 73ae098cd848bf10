// The JSON results (--json) and the lines of --json-stream.
#include "recorder.h"
#include "runjson.h"
#include "summary.h"

#include <cstdio>

namespace zebcli {

namespace {

template <typename T> void Put(Json& object, const char* name, const std::optional<T>& value) {
    if (value) {
        object[name] = *value;
    }
}

} // namespace

Json ParametersJson(const Options& options) {
    Json p = Json::object();
    switch (options.command) {
    case Command::FileIo:
        p["path"] = BoardUtf8(options.path);
        p["from"] = options.fromSize;
        p["to"] = options.toSize;
        p["increment"] = options.sizeIncrement;
        p["iterations"] = options.iteration;
        p["mode"] = options.modeText;
        p["mode_index"] = options.ioMode;
        p["cache"] = DescribeTarget(options).cache;
        break;
    case Command::Send:
        p["blocks"] = options.blocks;
        p["size"] = options.bufferSize;
        break;
    case Command::Receive:
    case Command::Log:
    case Command::Merge:
        break;
    }
    p["save"] = options.save;
    p["quiet"] = options.quiet;
    return p;
}

namespace {

// A percentile's name: "1", "99.9", "99.99".
std::string PercentileName(double percent) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", percent);
    return text;
}

Json Latency(const histogram::Histogram& h) {
    Json l = Json::object();
    l["count"] = h.Count();
    l["min_ns"] = h.Min();
    l["mean_ns"] = h.Mean();
    l["stddev_ns"] = h.Stddev();
    l["max_ns"] = h.Max();
    Json percentiles = Json::object();
    for (const double p : histogram::kPercentiles) {
        percentiles[PercentileName(p)] = h.Percentile(p);
    }
    l["percentiles"] = percentiles;
    Json buckets = Json::array();
    for (const auto& [index, count] : h.Buckets()) {
        buckets.push_back({index, count});
    }
    l["buckets"] = buckets;
    return l;
}

Json Interval(const IntervalRecord& i) {
    Json interval = {{"start_seconds", i.startSeconds},
                     {"seconds", i.seconds},
                     {"operations", i.operations},
                     {"bytes", i.bytes},
                     {"failures", i.failures},
                     {"p50_ns", i.p50Ns},
                     {"p99_ns", i.p99Ns},
                     {"max_ns", i.maxNs}};
    if (i.clientRates) {
        interval["client_bytes_per_second"] = {{"min", i.clientRates->first},
                                               {"max", i.clientRates->second}};
    }
    return interval;
}

Json Failure(const FailureRecord& f) {
    return {{"kind", f.kind},
            {"count", f.count},
            {"first_offset", f.firstOffset},
            {"last_offset", f.lastOffset},
            {"expected", f.expected},
            {"actual", f.actual},
            {"text", BoardUtf8(f.text)}};
}

bool IsFileIo(const RunRecord& run) {
    return run.kind == CommandName(Command::FileIo);
}

} // namespace

Json RunJson(const RunRecord& run) {
    Json r = Json::object();
    if (IsFileIo(run)) {
        Put(r, "buffer_size", run.bufferSize);
        r["mode"] = run.mode;
        Put(r, "mode_index", run.modeIndex);
        Put(r, "iterations", run.iterations);
        r["cache"] = run.cache;
    }
    r["start"] = run.start;
    r["outcome"] = run.OutcomeText();
    Put(r, "engine_result", run.engineResult);
    r["result_code"] = run.resultCode;
    r["elapsed_seconds"] = run.elapsedSeconds;
    if (!run.engineVerdict.empty()) {
        r["engine_verdict"] = run.engineVerdict;
    }
    Put(r, "process_bytes_read", run.processBytesRead);
    Put(r, "process_bytes_written", run.processBytesWritten);
    Put(r, "operations", run.operations);
    Put(r, "failed_operations", run.failedOperations);
    for (const auto& [name, counts] : {std::pair{"reads", &run.reads}, {"writes", &run.writes}}) {
        if (*counts) {
            r[name] = {{"operations", (*counts)->operations},
                       {"failed", (*counts)->failed},
                       {"bytes", (*counts)->bytes}};
        }
    }
    if (!run.cause.empty()) {
        r["cause"] = BoardUtf8(run.cause);
    }
    Put(r, "blocks", run.blocks);
    Put(r, "bytes", run.transferBytes);
    Put(r, "transfer_seconds", run.transferSeconds);
    Put(r, "bytes_per_second", run.BytesPerSecond());
    Put(r, "operations_per_second", run.OperationsPerSecond());
    if (!run.engineRate.empty()) {
        r["engine_rate"] = BoardUtf8(run.engineRate);
    }
    if (!run.summary.empty()) {
        r["summary"] = BoardUtf8(run.summary);
    }
    Json latency = Json::object();
    for (const auto& [name, h] : run.latency) {
        latency[name] = Latency(h);
    }
    r["latency"] = latency;
    Json intervals = Json::array();
    for (const IntervalRecord& i : run.intervals) {
        intervals.push_back(Interval(i));
    }
    r["intervals"] = intervals;
    if (run.intervalsNotKept > 0) {
        r["intervals_not_kept"] = run.intervalsNotKept;
    }
    Json failures = Json::array();
    for (const FailureRecord& f : run.failures) {
        failures.push_back(Failure(f));
    }
    r["failures"] = failures;
    if (run.releaseSeconds) {
        Json release = Json::object();
        release["origin_seconds"] = *run.releaseSeconds;
        Put(release, "wait_seconds", run.releaseWaitSeconds);
        Put(release, "first_transfer_seconds", run.firstTransferSeconds);
        Put(release, "done_seconds", run.doneSeconds);
        r["release"] = release;
    }
    return r;
}

namespace {

Json TotalsJson(const std::vector<RunRecord>& runs) {
    const RunTotals totals = Totals(runs);
    Json t = Json::object();
    t["runs"] = totals.runs;
    t["not_passed"] = totals.notPassed;
    t["elapsed_seconds"] = totals.elapsedSeconds;
    t["bytes"] = totals.bytes;
    t["transfer_seconds"] = totals.transferSeconds;
    Put(t, "bytes_per_second", totals.BytesPerSecond());
    return t;
}

} // namespace

Json TargetJson(const Options& options) {
    const TestTarget target = DescribeTarget(options);
    Json t = Json::object();
    t["backend"] = target.backend;
    Put(t, "server", target.server);
    t["cache"] = target.cache;
    return t;
}

Json DocumentJson(const Options& options, const RunContext& context) {
    Json doc = Json::object();
    doc["version"] = ZEB_VERSION;
    doc["host"] = BoardUtf8(context.host);
    doc["start"] = context.start;
    Json commandLine = Json::array();
    for (const std::string& arg : context.commandLine) {
        commandLine.push_back(BoardUtf8(arg));
    }
    doc["command_line"] = commandLine;
    doc["command"] = CommandName(options.command);
    return doc;
}

std::string ResultsJson(const Options& options, const RunContext& context,
                        const std::vector<RunRecord>& runs, int resultCode, bool oneLine) {
    Json doc = DocumentJson(options, context);
    doc["parameters"] = ParametersJson(options);
    if (options.command == Command::FileIo) {
        doc["target"] = TargetJson(options);
    }
    if (context.fileSystem) {
        doc["file_system"] = {{"type", BoardUtf8(context.fileSystem->type)},
                              {"source", BoardUtf8(context.fileSystem->source)},
                              {"mount_point", BoardUtf8(context.fileSystem->mountPoint)}};
    }
    doc["clock"] = EventClockName();
    doc["interval_seconds"] = options.intervalSeconds;
    doc["histogram"] = {
        {"scheme", "log-linear"}, {"sub_buckets", histogram::kSubBuckets}, {"unit", "ns"}};
    Json list = Json::array();
    for (const RunRecord& run : runs) {
        list.push_back(RunJson(run));
    }
    doc["runs"] = list;
    doc["totals"] = TotalsJson(runs);
    doc["result_code"] = resultCode;
    return doc.dump(oneLine ? -1 : 2) + "\n";
}

std::string IntervalJsonLine(std::size_t index, const RunRecord& run,
                             const IntervalRecord& interval) {
    Json line = Json::object();
    line["run"] = index;
    line["kind"] = run.kind;
    if (IsFileIo(run)) {
        Put(line, "buffer_size", run.bufferSize);
    }
    line["interval"] = Interval(interval);
    return line.dump() + "\n";
}

} // namespace zebcli
