#include "summary.h"

#include "url.h"
#include "utf8.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace zebcli {

namespace {

using Json = nlohmann::ordered_json;

const char* CommandName(Command command) {
    switch (command) {
    case Command::FileIo:
        return "fileio";
    case Command::Send:
        return "send";
    case Command::Receive:
        return "recv";
    case Command::Log:
        break;
    }
    return "log";
}

template <typename T> void Put(Json& object, const char* name, const std::optional<T>& value) {
    if (value) {
        object[name] = *value;
    }
}

Json Parameters(const Options& options) {
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
        break;
    }
    p["save"] = options.save;
    p["quiet"] = options.quiet;
    return p;
}

Json Run(const Options& options, const RunRecord& run) {
    Json r = Json::object();
    if (options.command == Command::FileIo) {
        Put(r, "buffer_size", run.bufferSize);
        r["mode"] = options.modeText;
        r["iterations"] = options.iteration;
    }
    r["start"] = run.start;
    r["outcome"] = run.outcome;
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
    return r;
}

Json Totals(const std::vector<RunRecord>& runs) {
    std::uint64_t bytes = 0;
    double seconds = 0;
    double transferSeconds = 0;
    std::size_t failed = 0;
    for (const RunRecord& run : runs) {
        seconds += run.elapsedSeconds;
        if (run.transferBytes && run.transferSeconds) {
            bytes += *run.transferBytes;
            transferSeconds += *run.transferSeconds;
        }
        failed += run.Passed() ? 0 : 1;
    }
    Json t = Json::object();
    t["runs"] = runs.size();
    t["not_passed"] = failed;
    t["elapsed_seconds"] = seconds;
    t["bytes"] = bytes;
    t["transfer_seconds"] = transferSeconds;
    if (transferSeconds > 0) {
        t["bytes_per_second"] = static_cast<double>(bytes) / transferSeconds;
    }
    return t;
}

std::string Number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

// A rate with three decimals, never in exponent form.
std::string Rate(const std::optional<double>& value) {
    if (!value) {
        return "";
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", *value);
    return text;
}

template <typename T> std::string Cell(const std::optional<T>& value) {
    if (!value) {
        return "";
    }
    if constexpr (std::is_floating_point_v<T>) {
        return Number(*value);
    } else {
        return std::to_string(*value);
    }
}

// A CSV field, quoted when it holds a separator, a quote or a line end.
std::string CsvText(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        return std::string(text);
    }
    std::string out = "\"";
    for (char c : text) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    return out + "\"";
}

std::string Row(const std::vector<std::string>& cells) {
    std::string row;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        row += (i == 0 ? "" : ",") + cells[i];
    }
    return row + "\r\n";
}

} // namespace

bool RunRecord::Passed() const {
    return outcome == "passed" || outcome == "sent" || outcome == "completed";
}

std::optional<double> RunRecord::BytesPerSecond() const {
    if (!transferBytes || !transferSeconds || *transferSeconds <= 0) {
        return std::nullopt;
    }
    return static_cast<double>(*transferBytes) / *transferSeconds;
}

std::optional<double> RunRecord::OperationsPerSecond() const {
    if (!operations || !transferSeconds || *transferSeconds <= 0) {
        return std::nullopt;
    }
    return static_cast<double>(*operations) / *transferSeconds;
}

TestTarget DescribeTarget(const Options& options) {
    const char* backend = "none"; // an URL of a scheme no backend serves
    switch (url::SchemeOf(options.path)) {
    case url::Scheme::Local:
        return {"posix", std::nullopt, options.cacheText};
    case url::Scheme::Smb:
        backend = "smb";
        break;
    case url::Scheme::Nfs:
        backend = "nfs";
        break;
    case url::Scheme::Unknown:
        break;
    }
    const url::Parsed parsed = url::Parse(options.path);
    return {backend, parsed.url ? std::optional(parsed.url->host) : std::nullopt, "none"};
}

RunContext CurrentContext(const std::vector<std::string>& commandLine) {
    RunContext context;
    context.start = UtcTimestamp();
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) == 0) {
        context.host = host;
    }
    context.commandLine = commandLine;
    return context;
}

std::string BoardUtf8(std::string_view text) {
    if (utf8::Valid(text)) {
        return std::string(text);
    }
    std::string out;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (byte >> 6));
            out += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return out;
}

std::string ResultsJson(const Options& options, const RunContext& context,
                        const std::vector<RunRecord>& runs, int resultCode) {
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
    doc["parameters"] = Parameters(options);
    if (options.command == Command::FileIo) {
        const TestTarget target = DescribeTarget(options);
        Json t = Json::object();
        t["backend"] = target.backend;
        Put(t, "server", target.server);
        t["cache"] = target.cache;
        doc["target"] = t;
    }
    if (context.fileSystem) {
        doc["file_system"] = {{"type", BoardUtf8(context.fileSystem->type)},
                              {"source", BoardUtf8(context.fileSystem->source)},
                              {"mount_point", BoardUtf8(context.fileSystem->mountPoint)}};
    }
    Json list = Json::array();
    for (const RunRecord& run : runs) {
        list.push_back(Run(options, run));
    }
    doc["runs"] = list;
    doc["totals"] = Totals(runs);
    doc["result_code"] = resultCode;
    return doc.dump(2) + "\n";
}

std::string ResultsCsv(const Options& options, const std::vector<RunRecord>& runs) {
    std::string out;
    if (options.command == Command::FileIo) {
        out = Row({"buffer_size", "mode", "iterations", "start", "outcome", "result_code",
                   "elapsed_seconds", "process_bytes_read", "process_bytes_written", "operations",
                   "bytes", "transfer_seconds", "bytes_per_second", "operations_per_second",
                   "failed_operations", "engine_verdict"});
        for (const RunRecord& r : runs) {
            out += Row({Cell(r.bufferSize), CsvText(options.modeText),
                        std::to_string(options.iteration), r.start, CsvText(r.outcome),
                        std::to_string(r.resultCode), Number(r.elapsedSeconds),
                        Cell(r.processBytesRead), Cell(r.processBytesWritten), Cell(r.operations),
                        Cell(r.transferBytes), Cell(r.transferSeconds), Rate(r.BytesPerSecond()),
                        Rate(r.OperationsPerSecond()), Cell(r.failedOperations),
                        CsvText(r.engineVerdict)});
        }
        return out;
    }
    out = Row({"command", "start", "outcome", "result_code", "elapsed_seconds", "blocks", "bytes",
               "transfer_seconds", "bytes_per_second", "engine_rate"});
    for (const RunRecord& r : runs) {
        out += Row({CommandName(options.command), r.start, CsvText(r.outcome),
                    std::to_string(r.resultCode), Number(r.elapsedSeconds), Cell(r.blocks),
                    Cell(r.transferBytes), Cell(r.transferSeconds), Rate(r.BytesPerSecond()),
                    CsvText(BoardUtf8(r.engineRate))});
    }
    return out;
}

std::string UtcTimestamp() {
    const auto now = std::chrono::system_clock::now();
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(millis / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(millis % 1000));
    return text;
}

} // namespace zebcli
