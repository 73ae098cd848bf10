#include "fleet/fleetoutput.h"

#include "endsummary.h"
#include "runjson.h"
#include "textutil.h"

#include <algorithm>
#include <cstdio>

namespace zebcli::fleet {

namespace {

Json SpreadJson(const Spread& s) {
    return {{"clients", s.count},
            {"min", s.min},
            {"max", s.max},
            {"mean", s.mean},
            {"stddev", s.stddev}};
}

template <typename T> void Put(Json& object, const char* name, const std::optional<T>& value) {
    if (value) {
        object[name] = *value;
    }
}

Json PassJson(const MergedPass& pass, double intervalSeconds) {
    Json p = RunJson(pass.all);
    p["clients"] = pass.clients;
    p["clients_passed"] = pass.clientsPassed;
    Json window = Json::object();
    window["first_done_seconds"] = pass.firstDoneSeconds;
    window["last_done_seconds"] = pass.lastDoneSeconds;
    window["bytes"] = pass.windowBytes;
    window["operations"] = pass.windowOperations;
    Put(window, "bytes_per_second", pass.WindowBytesPerSecond());
    Put(window, "operations_per_second", pass.WindowOperationsPerSecond());
    window["within_two_intervals"] = pass.Coarse(intervalSeconds);
    p["all_running"] = window;
    p["spread"] = {{"bytes_per_second", SpreadJson(pass.bytesPerSecond)},
                   {"operations_per_second", SpreadJson(pass.operationsPerSecond)}};
    if (pass.firstTransferMin) {
        p["release_to_first_transfer"] = {{"min_seconds", *pass.firstTransferMin},
                                          {"max_seconds", *pass.firstTransferMax}};
    }
    return p;
}

// The row of run under the header of ResultsCsv, without its line end.
std::string RowOf(const RunRecord& run) {
    const std::string table = ResultsCsv(Command::FileIo, {run});
    std::string row = table.substr(table.find('\n') + 1);
    while (!row.empty() && (row.back() == '\n' || row.back() == '\r')) {
        row.pop_back();
    }
    return row;
}

std::string MegabytesPerSecond(const std::optional<double>& rate) {
    if (!rate) {
        return "-";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", *rate / 1e6);
    return text;
}

} // namespace

std::vector<RunRecord> AllRuns(const MergedResult& merged) {
    std::vector<RunRecord> runs;
    for (const MergedPass& pass : merged.passes) {
        runs.push_back(pass.all);
    }
    return runs;
}

namespace {

// A client over all its passes, as the report's table and the end summary show it.
ClientRow ClientRowOf(const ClientResult& client) {
    ClientRow row;
    row.name = client.name;
    row.host = client.host;
    row.passed = !client.Failed();
    row.outcome = client.Failed()  ? "FAILED: " + client.Failure()
                  : client.stopped ? "stopped at a release (another client failed)"
                                   : "passed";
    row.passes = client.runs.size();
    double seconds = 0;
    histogram::Histogram all;
    for (const RunRecord& run : client.runs) {
        row.bytes += run.transferBytes.value_or(0);
        row.operations += run.operations.value_or(0);
        row.failedOperations += run.failedOperations.value_or(0);
        seconds += run.transferSeconds.value_or(0);
        all.Merge(run.AllLatency());
    }
    if (seconds > 0) {
        row.bytesPerSecond = static_cast<double>(row.bytes) / seconds;
    }
    if (all.Count() > 0) {
        row.p99Ns = all.Percentile(99);
    }
    return row;
}

} // namespace

RunContext ChartContext(RunContext context, const MergedResult& merged) {
    context.clients = merged.clients.size();
    context.clientPasses.clear();
    for (const MergedPass& pass : merged.passes) {
        ClientsPass figures;
        figures.clients = pass.clients;
        figures.clientsPassed = pass.clientsPassed;
        figures.meanRate = pass.bytesPerSecond.mean;
        figures.stddevRate = pass.bytesPerSecond.stddev;
        figures.allRunningBytesPerSecond = pass.WindowBytesPerSecond();
        figures.allRunningCoarse = pass.Coarse(merged.intervalSeconds);
        if (pass.bytesPerSecond.count > 0) {
            figures.clientRates = std::pair(pass.bytesPerSecond.min, pass.bytesPerSecond.max);
        }
        context.clientPasses.push_back(figures);
    }
    context.clientRows.clear();
    for (const ClientResult& client : merged.clients) {
        context.clientRows.push_back(ClientRowOf(client));
    }
    return context;
}

namespace {

std::vector<std::string> Clocks(const std::vector<MergedResult>& points) {
    std::vector<std::string> clocks;
    for (const MergedResult& merged : points) {
        for (const ClientResult& client : merged.clients) {
            if (!client.clock.empty()) {
                clocks.push_back(client.clock);
            }
        }
    }
    return clocks;
}

// What every document of a merge begins with.
Json Header(const Options& options, const RunContext& context, double intervalSeconds,
            const std::vector<std::string>& clientClocks) {
    Json doc = DocumentJson(options, context);
    if (options.command == Command::FileIo) {
        Json parameters = ParametersJson(options);
        parameters["clients"] = options.clientCounts;
        parameters["clients_dir"] = BoardUtf8(options.clientsDirectory);
        parameters["client_timeout_seconds"] = options.clientTimeoutSeconds;
        parameters["stop_on_failure"] = options.stopOnFailure;
        doc["parameters"] = parameters;
        doc["target"] = TargetJson(options);
    } else {
        Json files = Json::array();
        for (const std::string& path : options.mergePaths) {
            files.push_back(BoardUtf8(path));
        }
        doc["parameters"] = {{"files", files}};
    }
    doc["interval_seconds"] = intervalSeconds;
    // Each client's own clock, as its results name it (the clients of one host share theirs).
    Json clocks = Json::array();
    for (const std::string& clock : clientClocks) {
        if (std::find(clocks.begin(), clocks.end(), clock) == clocks.end()) {
            clocks.push_back(clock);
        }
    }
    doc["clocks"] = clocks;
    doc["histogram"] = {
        {"scheme", "log-linear"}, {"sub_buckets", histogram::kSubBuckets}, {"unit", "ns"}};
    return doc;
}

// The clients, the passes of them all and the verdict, into doc.
void Body(Json& doc, const MergedResult& merged) {
    Json clients = Json::array();
    for (const ClientResult& client : merged.clients) {
        Json c = Json::object();
        c["name"] = BoardUtf8(client.name);
        c["host"] = BoardUtf8(client.host);
        c["path"] = BoardUtf8(client.path);
        c["directory"] = BoardUtf8(client.directory);
        c["outcome"] = client.Failed() ? "failed" : "passed";
        if (client.stopped) {
            c["stopped"] = true;
        }
        if (client.Failed()) {
            c["failure"] = BoardUtf8(client.Failure());
        }
        Json runs = Json::array();
        for (const RunRecord& run : client.runs) {
            runs.push_back(RunJson(run));
        }
        c["runs"] = runs;
        clients.push_back(c);
    }
    doc["clients"] = clients;
    Json passes = Json::array();
    for (const MergedPass& pass : merged.passes) {
        passes.push_back(PassJson(pass, merged.intervalSeconds));
    }
    doc["all"] = passes;
    Json failed = Json::array();
    for (const std::string& name : merged.FailedClients()) {
        failed.push_back(BoardUtf8(name));
    }
    doc["failed_clients"] = failed;
    doc["outcome"] = failed.empty() && !merged.clients.empty() ? "passed" : "failed";
}

} // namespace

std::string MergedJson(const Options& options, const RunContext& context,
                       const MergedResult& merged) {
    Json doc = Header(options, context, merged.intervalSeconds, Clocks({merged}));
    Body(doc, merged);
    return doc.dump(2) + "\n";
}

charts::LoadPoint LoadPointOf(const MergedResult& merged) {
    charts::LoadPoint point;
    point.clients = static_cast<std::uint32_t>(merged.clients.size());
    point.passed = merged.FailedClients().empty() && !merged.clients.empty();
    double bytes = 0;
    double whole = 0;
    double window = 0;
    double windowBytes = 0;
    histogram::Histogram all;
    for (const MergedPass& pass : merged.passes) {
        bytes += static_cast<double>(pass.all.transferBytes.value_or(0));
        whole += pass.lastDoneSeconds;
        window += pass.firstDoneSeconds;
        windowBytes += pass.windowBytes;
        point.allRunningCoarse = point.allRunningCoarse || pass.Coarse(merged.intervalSeconds);
        all.Merge(pass.all.AllLatency());
    }
    if (whole > 0) {
        point.wholeBytesPerSecond = bytes / whole;
    }
    if (window > 0) {
        point.allRunningBytesPerSecond = windowBytes / window;
    }
    point.p99Ns = all.Percentile(99);
    return point;
}

std::string LoadJson(const Options& options, const RunContext& context,
                     const std::vector<MergedResult>& points) {
    Json doc = Header(options, context, points.empty() ? 1 : points.front().intervalSeconds,
                      Clocks(points));
    Json list = Json::array();
    Json failed = Json::array();
    for (const MergedResult& merged : points) {
        const charts::LoadPoint point = LoadPointOf(merged);
        Json p = Json::object();
        p["client_count"] = point.clients;
        Put(p, "all_running_bytes_per_second", point.allRunningBytesPerSecond);
        p["all_running_within_two_intervals"] = point.allRunningCoarse;
        Put(p, "whole_bytes_per_second", point.wholeBytesPerSecond);
        p["p99_ns"] = point.p99Ns;
        Body(p, merged);
        for (const std::string& name : merged.FailedClients()) {
            failed.push_back(BoardUtf8(std::to_string(point.clients) + " clients: " + name));
        }
        list.push_back(p);
    }
    doc["load_points"] = list;
    doc["failed_clients"] = failed;
    doc["outcome"] = failed.empty() ? "passed" : "failed";
    return doc.dump(2) + "\n";
}

std::vector<std::string> LoadSummary(const std::vector<MergedResult>& points) {
    std::vector<std::string> lines;
    char line[256];
    std::snprintf(line, sizeof line, "%8s %16s %12s %10s  %s", "clients", "MB/s (all ran)",
                  "MB/s whole", "p99 us", "failed");
    lines.emplace_back(line);
    for (const MergedResult& merged : points) {
        const charts::LoadPoint point = LoadPointOf(merged);
        std::snprintf(line, sizeof line, "%8u %16s %12s %10.1f  %zu", point.clients,
                      ((point.allRunningCoarse ? "~" : "") +
                       MegabytesPerSecond(point.allRunningBytesPerSecond))
                          .c_str(),
                      MegabytesPerSecond(point.wholeBytesPerSecond).c_str(),
                      static_cast<double>(point.p99Ns) / 1e3, merged.FailedClients().size());
        lines.emplace_back(line);
    }
    if (std::any_of(points.begin(), points.end(),
                    [](const MergedResult& m) { return LoadPointOf(m).allRunningCoarse; })) {
        lines.emplace_back(kCoarseNote);
    }
    return lines;
}

std::string MergedCsv(const std::vector<MergedResult>& points) {
    const std::string header = ResultsCsv(Command::FileIo, {});
    std::string out = "client_count,client,pass," +
                      header.substr(0, header.find_last_not_of("\r\n") + 1) +
                      ",all_running_bytes_per_second,clients,clients_passed\n";
    for (const MergedResult& merged : points) {
        const std::string count = std::to_string(merged.clients.size()) + ",";
        for (const ClientResult& client : merged.clients) {
            for (std::size_t i = 0; i < client.runs.size(); ++i) {
                out += count + CsvText(BoardUtf8(client.name)) + "," + std::to_string(i + 1) + "," +
                       RowOf(client.runs[i]) + ",,,\n";
            }
        }
        for (std::size_t i = 0; i < merged.passes.size(); ++i) {
            const MergedPass& pass = merged.passes[i];
            out += count + "all," + std::to_string(i + 1) + "," + RowOf(pass.all) + "," +
                   CsvRate(pass.WindowBytesPerSecond()) + "," + std::to_string(pass.clients) + "," +
                   std::to_string(pass.clientsPassed) + "\n";
        }
    }
    return out;
}

std::vector<std::string> MergedSummary(const MergedResult& merged) {
    std::vector<std::string> lines;
    char line[512];
    std::snprintf(line, sizeof line, "%-6s %-7s %8s %10s %13s %11s %10s   %s", "pass", "buffer",
                  "clients", "bytes", "MB/s all ran", "MB/s whole", "p99 us",
                  "client MB/s: min mean max stddev");
    lines.emplace_back(line);
    for (std::size_t i = 0; i < merged.passes.size(); ++i) {
        const MergedPass& pass = merged.passes[i];
        const histogram::Histogram all = pass.all.AllLatency();
        const Spread& s = pass.bytesPerSecond;
        std::snprintf(line, sizeof line,
                      "%-6zu %-7u %4zu/%-3zu %10s %13s %11s %10.1f   %.2f %.2f %.2f %.2f", i + 1,
                      pass.all.bufferSize.value_or(0), pass.clientsPassed, pass.clients,
                      HumanBytes(pass.all.transferBytes.value_or(0)).c_str(),
                      ((pass.Coarse(merged.intervalSeconds) ? "~" : "") +
                       MegabytesPerSecond(pass.WindowBytesPerSecond()))
                          .c_str(),
                      MegabytesPerSecond(pass.all.BytesPerSecond()).c_str(),
                      static_cast<double>(all.Percentile(99)) / 1e3, s.min / 1e6, s.mean / 1e6,
                      s.max / 1e6, s.stddev / 1e6);
        lines.emplace_back(line);
    }
    if (std::any_of(merged.passes.begin(), merged.passes.end(),
                    [&](const MergedPass& pass) { return pass.Coarse(merged.intervalSeconds); })) {
        lines.emplace_back(kCoarseNote);
    }
    for (const ClientResult& client : merged.clients) {
        const ClientRow row = ClientRowOf(client);
        std::snprintf(line, sizeof line, "%s: %s, %zu %s, %llu operations, %s", row.name.c_str(),
                      row.outcome.c_str(), row.passes, row.passes == 1 ? "pass" : "passes",
                      static_cast<unsigned long long>(row.operations),
                      HumanBytes(row.bytes).c_str());
        lines.emplace_back(line);
    }
    const std::vector<std::string> failed = merged.FailedClients();
    std::snprintf(line, sizeof line, "%zu clients, %zu failed", merged.clients.size(),
                  failed.size());
    lines.emplace_back(line);
    return lines;
}

} // namespace zebcli::fleet
