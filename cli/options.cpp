#include "options.h"

#include "fleet/client.h"
#include "modes.h"
#include "recorder.h"
#include "resultsfile.h"
#include "soak.h"
#include "url.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iterator>
#include <optional>
#include <sstream>
#include <vector>

namespace zebcli {

namespace {

constexpr char kFooter[] =
    "Exit status: 0 no failure was posted; 1 a failure was posted (a failed pass, a data\n"
    "error, no partner station, a log with cut or damaged records); 2 a results file (--json,\n"
    "--csv, --json-stream, --series, --plot, --report) cannot be written there (checked before\n"
    "the run) or could not be written; 64 a usage error. See zebcli(1).\n";
// zebcli log writes no results file.
constexpr char kLogFooter[] = "Exit status: 0 every record was whole; 1 the log could not be "
                              "read or held a cut or\ndamaged record; 64 a usage error. See "
                              "zebcli(1).\n";
// How a sweep is stopped short.
constexpr char kCtrlC[] =
    "Ctrl-C ends the run after the pass under way, with every result written; a second\n"
    "Ctrl-C ends it at once, with the passes completed so far written.\n";
// What PATH may be besides a local file, and where the password comes from.
constexpr char kTargets[] =
    "PATH may also be a file on a server, reached by zebcli's own clients without a mount:\n"
    "smb://[[DOMAIN;]USER@]SERVER[:PORT]/SHARE/DIR/FILE or\n"
    "nfs://SERVER[:PORT]/EXPORT/DIR/FILE (an IPv6 address in brackets). The SMB password is read "
    "from the environment variable PASSWD or\n"
    "from --authentication-file, never from the URL or the command line.\n";

// A number option's help from its field: what it sets, its range and its default.
std::string FieldHelp(const fields::Field& field, std::string_view what) {
    return std::string(what) + ", " + std::to_string(field.range.low) + ".." +
           std::to_string(field.range.high) + " (" + std::to_string(field.number) + ")";
}

std::string Quoted(std::string_view text) {
    return "'" + std::string(text) + "'";
}

// The dialog's rules for a number field; the message on failure names the option.
std::optional<std::string> Refusal(const fields::Field& field, std::string_view text,
                                   fields::StoreOutcome outcome) {
    if (outcome == fields::StoreOutcome::Stored) {
        return std::nullopt;
    }
    return std::string(field.option) + " " + Quoted(text) + ": " + field.Message(outcome);
}

template <typename Number>
std::optional<std::string> Store(const fields::Field& field, const CLI::Option* given,
                                 const std::string& text, Number& stored) {
    if (given->count() == 0) {
        return std::nullopt;
    }
    if constexpr (std::is_signed_v<Number>) {
        return Refusal(field, text, fields::StoreSigned(text, field.range, stored));
    } else {
        return Refusal(field, text, fields::StoreUnsigned(text, field.range, stored));
    }
}

std::string ModeList() {
    std::string list;
    for (std::size_t i = 0; i < fields::kModeNames.size(); ++i) {
        list += (i == 0 ? "" : ", ") + std::to_string(i) + " " + std::string(fields::kModeNames[i]);
    }
    return list;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

ParseResult Exit(int status, std::string message) {
    ParseResult result;
    result.exitStatus = status;
    result.message = std::move(message);
    return result;
}

// The texts given to the options, checked with the fields' rules once the syntax has parsed.
struct Texts {
    std::string from, to, inc, iterations, mode, cache = "plain", blocks, size, interval, repeat,
                                                 duration, clients, clientTimeout;
};

// --clients: a number of clients, or numbers apart by commas (one run at each).
std::optional<std::string> StoreClients(const std::string& text,
                                        std::vector<std::uint32_t>& counts) {
    const std::string refusal = "--clients " + Quoted(text) + ": a number of clients from 1 to " +
                                std::to_string(fleet::kMaxClients) +
                                ", or several apart by commas (1,2,4,8)";
    std::string_view rest = text;
    while (true) {
        const std::size_t comma = rest.find(',');
        const std::string_view item = rest.substr(0, comma);
        std::uint32_t n = 0;
        const auto [end, error] = std::from_chars(item.data(), item.data() + item.size(), n);
        if (item.empty() || error != std::errc() || end != item.data() + item.size() || n < 1 ||
            n > fleet::kMaxClients || counts.size() >= fleet::kMaxLoadPoints) {
            return refusal;
        }
        counts.push_back(n);
        if (comma == std::string_view::npos) {
            return std::nullopt;
        }
        rest.remove_prefix(comma + 1);
    }
}

// --interval: seconds, a decimal number within the recorder's bounds.
std::optional<std::string> StoreInterval(const std::string& text, double& seconds) {
    if (text.empty()) {
        return std::nullopt;
    }
    double value = 0;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value) ||
        value < kMinIntervalSeconds || value > kMaxIntervalSeconds) {
        char bounds[64];
        std::snprintf(bounds, sizeof bounds, "seconds from %g to %g", kMinIntervalSeconds,
                      kMaxIntervalSeconds);
        return "--interval " + Quoted(text) + ": give " + bounds;
    }
    seconds = value;
    return std::nullopt;
}

// An option naming a results file: FILE in the help, an empty name refused.
void AddFileOption(CLI::App* command, const std::string& name, std::string& path,
                   const std::string& help) {
    command->add_option(name, path, help)->type_name("FILE")->check([](const std::string& v) {
        return v.empty() ? "needs a file name" : "";
    });
}

void AddOutputs(CLI::App* command, Options& o, Texts& t, bool sweep) {
    command->add_flag("-q,--quiet", o.quiet,
                      "no line per engine message and no progress; the end summary, failures "
                      "and errors still print");
    command->add_flag("--save", o.save, "append every message to report.txt");
    AddFileOption(command, "--json", o.jsonPath,
                  "write the results to FILE as JSON (-: standard output)");
    AddFileOption(command, "--csv", o.csvPath,
                  std::string("write one row per ") + (sweep ? "pass" : "session") +
                      " to FILE as CSV, with a header row (-: standard output)");
    AddFileOption(command, "--plot", o.plotPath,
                  sweep ? "draw the sweep (MB/s and operations per second against the buffer "
                          "size), the rate and latency over time and the latency percentiles "
                          "of each pass as SVG charts in FILE"
                        : "draw the session's figures, its rate and latency over time and its "
                          "latency percentiles as SVG charts in FILE");
    AddFileOption(command, "--report", o.reportPath,
                  std::string("write a self-contained HTML page to FILE: the parameters, the "
                              "target, a row per ") +
                      (sweep ? "pass" : "session") +
                      " with its latency percentiles, the failures and the charts");
    command
        ->add_option("--interval", t.interval,
                     std::string("cut each ") + (sweep ? "pass" : "session") +
                         " into intervals of SECONDS for the time line, 0.01..3600 (1)")
        ->type_name("SECONDS");
    AddFileOption(command, "--json-stream", o.jsonStreamPath,
                  "write each interval to FILE as a JSON line as it ends, then the whole "
                  "result as the last line (-: standard output)");
    AddFileOption(command, "--series", o.seriesPath,
                  std::string("write every interval of every ") + (sweep ? "pass" : "session") +
                      " to FILE as CSV (-: standard output)");
}

// Two results in one file, standard output for two documents, or a results file over the test
// file or report.txt: what one of them would write, the other would replace.
std::optional<std::string> OutputsRefusal(const Options& o) {
    const std::pair<const char*, const std::string*> outputs[] = {
        {"--json", &o.jsonPath},     {"--csv", &o.csvPath},   {"--json-stream", &o.jsonStreamPath},
        {"--series", &o.seriesPath}, {"--plot", &o.plotPath}, {"--report", &o.reportPath}};
    const char* onStandardOutput = nullptr;
    for (const auto& [option, path] : outputs) {
        if (*path != kStandardOutput) {
            continue;
        }
        if (std::string_view(option) == "--plot") {
            return "--plot '-': the chart needs a file name (- is standard output for --json, "
                   "--csv, --json-stream and --series only)";
        }
        if (std::string_view(option) == "--report") {
            return "--report '-': the report needs a file name (- is standard output for --json, "
                   "--csv, --json-stream and --series only)";
        }
        if (onStandardOutput != nullptr) {
            return std::string(onStandardOutput) + " and " + option +
                   " cannot both go to standard output (-)";
        }
        onStandardOutput = option;
    }
    for (std::size_t i = 0; i < std::size(outputs); ++i) {
        const auto& [option, path] = outputs[i];
        if (path->empty() || *path == kStandardOutput) {
            continue;
        }
        for (std::size_t j = i + 1; j < std::size(outputs); ++j) {
            if (!outputs[j].second->empty() && SameFile(*path, *outputs[j].second)) {
                return std::string(option) + " and " + outputs[j].first + " name the same file";
            }
        }
        if (o.command == Command::FileIo && url::SchemeOf(o.path) == url::Scheme::Local &&
            SameFile(*path, o.path)) {
            return std::string(option) + " names the test file";
        }
        for (const std::string& input : o.mergePaths) {
            if (o.command == Command::Merge && SameFile(*path, input)) {
                return std::string(option) + " names " + input + ", one of the files to merge";
            }
        }
        if (o.save && SameFile(*path, "report.txt")) {
            return std::string(option) + " names report.txt, where --save appends every message";
        }
    }
    return std::nullopt;
}

} // namespace

int ModeIndex(std::string_view text) {
    if (text.size() == 1 && text[0] >= '0' && text[0] <= '8') {
        return text[0] - '0';
    }
    for (std::size_t i = 0; i < fields::kModeNames.size(); ++i) {
        if (SameIgnoringCase(text, fields::kModeNames[i])) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

ParseResult ParseArguments(std::span<const std::string_view> args) {
    // Before anything else is said about the arguments: no message, result or listing may
    // repeat a password.
    for (std::string_view arg : args) {
        if (url::HoldsPassword(arg)) {
            return Exit(kExitUsage, "an argument holds an URL with a password (user:password@), "
                                    "which is never taken: give it in PASSWD or "
                                    "--authentication-file");
        }
    }
    Options o;
    Texts t;
    CLI::App app{"Runs the ZEB LAN stress tests without a window; every message of the engine "
                 "is one line on standard output.",
                 "zebcli"};
    app.set_version_flag("--version", "zebcli " ZEB_VERSION " (ZEB LAN stress kit)");
    app.require_subcommand(1);
    app.footer(kFooter);

    CLI::App* fileio =
        app.add_subcommand("fileio", "file I/O stress on the test file PATH, one pass per "
                                     "buffer size from --from while not above --to");
    fileio->add_option("PATH", o.path, "the test file (at most 200 bytes)")->required();
    const CLI::Option* from =
        fileio
            ->add_option("--from", t.from,
                         FieldHelp(fields::kFromSize, "first buffer size of the sweep"))
            ->type_name("N");
    const CLI::Option* to =
        fileio->add_option("--to", t.to, FieldHelp(fields::kToSize, "last buffer size"))
            ->type_name("N");
    const CLI::Option* inc =
        fileio
            ->add_option("--inc", t.inc, FieldHelp(fields::kSizeIncrement, "buffer size increment"))
            ->type_name("N");
    const CLI::Option* iterations =
        fileio
            ->add_option("--iterations", t.iterations,
                         FieldHelp(fields::kIteration, "operations per pass"))
            ->type_name("N");
    const CLI::Option* mode =
        fileio
            ->add_option("--mode", t.mode,
                         "I/O mode, by name or index (" + std::string(fields::kModeText.text) + ")")
            ->type_name("MODE");
    fileio->add_option("--cache", t.cache, "plain, direct or drop (plain)")->type_name("HOW");
    fileio->footer("I/O modes (names in any case): " + ModeList() +
                   ".\n--cache: plain, through the client's page cache; direct, with O_DIRECT; "
                   "drop, every\nread and write made at the file system's server or disk.\n" +
                   kCtrlC + kTargets + kFooter);
    fileio
        ->add_option("--authentication-file", o.authenticationFile,
                     "read the SMB user and password from FILE, in smbclient -A format")
        ->type_name("FILE");
    const CLI::Option* repeat =
        fileio
            ->add_option("--repeat", t.repeat,
                         "run the sweep N times, 1.." + std::to_string(kMaxRepeat) + " (1)")
            ->type_name("N");
    const CLI::Option* duration =
        fileio
            ->add_option("--duration", t.duration,
                         "run the sweep again until D has passed (30s, 10m, 2h, 1d; at most 7d); "
                         "the pass under way ends first")
            ->type_name("D");
    fileio
        ->add_option("--clients", t.clients,
                     "run N client processes at once, each a workstation of its own with its own "
                     "test file ({client} in PATH, else the number before the extension), "
                     "released together at every pass; N,M,... runs at each number, 1.." +
                         std::to_string(fleet::kMaxClients))
        ->type_name("N");
    fileio
        ->add_option("--clients-dir", o.clientsDirectory,
                     "the directory of the clients' own directories (zebcli-clients)")
        ->type_name("DIR")
        ->check([](const std::string& v) { return v.empty() ? "needs a directory" : ""; });
    fileio
        ->add_option("--client-timeout", t.clientTimeout,
                     "end a client that goes SECONDS without preparing or ending a pass, 1.." +
                         std::to_string(static_cast<int>(fleet::kMaxClientTimeoutSeconds)) +
                         " (300)")
        ->type_name("SECONDS");
    fileio->add_flag("--stop-on-failure", o.stopOnFailure,
                     "with --clients: one client's failure ends them all (at their next release)");
    AddOutputs(fileio, o, t, true);

    CLI::App* send = app.add_subcommand("send", "NetBIOS session stress as the sender");
    const CLI::Option* blocks =
        send->add_option("--blocks", t.blocks, FieldHelp(fields::kBlocks, "number of blocks"))
            ->type_name("N");
    const CLI::Option* size =
        send->add_option("--size", t.size, FieldHelp(fields::kBufferSize, "block size in bytes"))
            ->type_name("N");
    AddOutputs(send, o, t, false);

    CLI::App* recv = app.add_subcommand(
        "recv", "NetBIOS session stress as the receiver, until the sender hangs up");
    AddOutputs(recv, o, t, false);

    CLI::App* merge = app.add_subcommand(
        "merge", "merge the --json results of clients run apart (zebcli fileio, one file per "
                 "client) into one result, as fileio --clients does");
    merge->add_option("FILE", o.mergePaths, "the clients' results files")->required();
    merge->add_flag("-q,--quiet", o.quiet, "only the end summary and errors");
    for (const auto& [name, path, what] :
         {std::tuple{"--json", &o.jsonPath,
                     "write the merged result to FILE as JSON (-: standard "
                     "output)"},
          {"--csv", &o.csvPath,
           "write one row per client and pass and per pass of them all to FILE "
           "as CSV (-: standard output)"},
          {"--plot", &o.plotPath,
           "draw the merged sweep, with the band of the clients' rates, as "
           "SVG charts in FILE"},
          {"--report", &o.reportPath, "write a self-contained HTML page of the merged result"}}) {
        merge->add_option(name, *path, what)->type_name("FILE")->check([](const std::string& v) {
            return v.empty() ? "needs a file name" : "";
        });
    }
    merge->footer(kFooter);

    CLI::App* log =
        app.add_subcommand("log", "decode the compatibility log FILE ($WINDIR/ctlogs/PLV.log, or "
                                  "/var/log/ctlogs/PLV.log without WINDIR): one line per record");
    log->add_option("FILE", o.logPath, "the log to decode");
    log->add_flag("--json", o.logJson, "the records as a JSON document");
    log->footer(kLogFooter);

    for (CLI::App* command : {&app, fileio, send, recv, merge, log}) {
        command->allow_extras();
    }
    std::vector<std::string> words{"zebcli"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<const char*> argv;
    argv.reserve(words.size());
    for (const std::string& word : words) {
        argv.push_back(word.c_str());
    }
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::CallForHelp&) {
        std::ostringstream out;
        std::ostringstream ignored;
        app.exit(CLI::CallForHelp(), out, ignored);
        return Exit(kExitPassed, out.str());
    } catch (const CLI::CallForVersion& e) {
        return Exit(kExitPassed, std::string(e.what()) + "\n");
    } catch (const CLI::ParseError& e) {
        std::string what = e.what();
        if (app.get_subcommands().empty()) {
            what = app.remaining().empty() ? "no command given (fileio, send, recv, merge or log)"
                                           : "unknown command " + Quoted(app.remaining().front()) +
                                                 " (fileio, send, recv, merge or log)";
        }
        return Exit(kExitUsage, what + "; see zebcli --help");
    }

    for (CLI::App* command : {fileio, send, recv, merge, log, &app}) {
        // "--" itself is kept among the remaining arguments, but is none of them.
        if (command->parsed() && command->remaining_size() > 0) {
            std::vector<std::string> extra = command->remaining();
            std::erase(extra, "--");
            return Exit(kExitUsage, "unknown argument " + Quoted(extra.front()) +
                                        (command == &app ? "" : " for " + command->get_name()) +
                                        "; see zebcli --help");
        }
    }
    if (fileio->parsed()) {
        o.command = Command::FileIo;
    } else if (send->parsed()) {
        o.command = Command::Send;
    } else if (recv->parsed()) {
        o.command = Command::Receive;
    } else if (merge->parsed()) {
        o.command = Command::Merge;
    } else {
        o.command = Command::Log;
    }

    using namespace fields;
    std::optional<std::string> error;
    if (o.command == Command::FileIo) {
        if (o.path.empty()) {
            return Exit(kExitUsage, "the test file's path is empty");
        }
        if (o.path.size() > kMaxPathBytes) {
            return Exit(kExitUsage, "the test file's path is longer than 200 bytes");
        }
        if (const url::Parsed parsed = url::Parse(o.path); !parsed.url) {
            return Exit(kExitUsage, "the test file's URL " + parsed.refusal);
        }
        if (!(error = Store(kFromSize, from, t.from, o.fromSize)) &&
            !(error = Store(kToSize, to, t.to, o.toSize)) &&
            !(error = Store(kSizeIncrement, inc, t.inc, o.sizeIncrement)) &&
            !(error = Store(kIteration, iterations, t.iterations, o.iteration)) &&
            mode->count() > 0) {
            std::string stored;
            error = Refusal(kModeText, t.mode, StoreText(t.mode, kModeText.limit, stored));
            if (!error) {
                o.ioMode = ModeIndex(t.mode);
                if (o.ioMode < 0) {
                    error =
                        "--mode " + Quoted(t.mode) + ": not an I/O mode; give one of " + ModeList();
                } else {
                    o.modeText = std::string(kModeNames[static_cast<std::size_t>(o.ioMode)]);
                }
            }
        }
        const std::optional<modes::CacheMode> cache = modes::CacheModeOf(t.cache);
        if (!error && !cache) {
            error = "--cache " + Quoted(t.cache) + ": plain, direct or drop";
        }
        if (!error && repeat->count() > 0) {
            std::uint32_t n = 0;
            const auto [end, bad] =
                std::from_chars(t.repeat.data(), t.repeat.data() + t.repeat.size(), n);
            if (bad != std::errc() || end != t.repeat.data() + t.repeat.size() || n < 1 ||
                n > kMaxRepeat) {
                error = "--repeat " + Quoted(t.repeat) + ": a whole number from 1 to " +
                        std::to_string(kMaxRepeat);
            }
            o.repeat = n;
            o.repeatGiven = true;
        }
        if (!error && duration->count() > 0) {
            const std::optional<double> seconds = ParseDuration(t.duration);
            if (!seconds) {
                error = "--duration " + Quoted(t.duration) +
                        ": a whole number of s, m, h or d (30s, 10m, 2h), from 1s to 7d";
            }
            o.durationSeconds = seconds.value_or(0);
        }
        if (!error && !t.clients.empty()) {
            error = StoreClients(t.clients, o.clientCounts);
        }
        if (!error && !t.clientTimeout.empty()) {
            std::uint32_t n = 0;
            const auto [end, bad] = std::from_chars(
                t.clientTimeout.data(), t.clientTimeout.data() + t.clientTimeout.size(), n);
            if (bad != std::errc() || end != t.clientTimeout.data() + t.clientTimeout.size() ||
                n < 1 || n > fleet::kMaxClientTimeoutSeconds) {
                error = "--client-timeout " + Quoted(t.clientTimeout) +
                        ": whole seconds from 1 to " +
                        std::to_string(static_cast<int>(fleet::kMaxClientTimeoutSeconds));
            }
            o.clientTimeoutSeconds = n;
        }
        if (!error && o.clientCounts.empty() && o.stopOnFailure) {
            error = "--stop-on-failure needs --clients";
        }
        if (!error && !o.clientCounts.empty() && !o.jsonStreamPath.empty()) {
            error = "--json-stream is for one process; with --clients each client's result is in "
                    "its own directory";
        }
        if (!error && !o.clientCounts.empty() &&
            !fleet::ClientPathRefusal(o.path, o.clientCounts).empty()) {
            error = fleet::ClientPathRefusal(o.path, o.clientCounts);
        }
        o.cacheText = t.cache;
        o.cacheMode = static_cast<int>(cache.value_or(modes::CacheMode::Plain));
    } else if (o.command == Command::Send) {
        if (!(error = Store(kBlocks, blocks, t.blocks, o.blocks))) {
            error = Store(kBufferSize, size, t.size, o.bufferSize);
        }
    }
    if (!error) {
        error = StoreInterval(t.interval, o.intervalSeconds);
    }
    if (!error) {
        error = OutputsRefusal(o);
    }
    if (error) {
        return Exit(kExitUsage, *error);
    }
    ParseResult result;
    result.run = true;
    result.options = std::move(o);
    return result;
}

} // namespace zebcli
