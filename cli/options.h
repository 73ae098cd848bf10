// The command line of zebcli: the test to run and its parameters, checked with the control
// dialog's ranges and messages.
#ifndef ZEBCLI_OPTIONS_H
#define ZEBCLI_OPTIONS_H

#include "fields.h"
#include "zebdll.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zebcli {

enum class Command { FileIo, Send, Receive, Log, Merge };

struct Options {
    Command command = Command::FileIo;
    // File I/O sweep, with the dialog's defaults.
    std::string path;
    std::uint32_t fromSize = fields::kFromSize.DefaultUnsigned();
    std::uint32_t toSize = fields::kToSize.DefaultUnsigned();
    std::uint32_t sizeIncrement = fields::kSizeIncrement.DefaultUnsigned();
    std::uint32_t iteration = fields::kIteration.DefaultUnsigned();
    // The mode's name as the table spells it, and its index.
    std::string modeText{fields::kModeText.text};
    int ioMode = fields::IoModeFromText(fields::kModeText.text);
    // How the passes reach the test file: "plain", "direct" or "drop" (see SetFileCacheMode).
    std::string cacheText = "plain";
    int cacheMode = ZEB_CACHE_PLAIN;
    // Soak runs: the sweep run repeat times, or again until durationSeconds have passed (0:
    // no duration); repeatGiven when --repeat was given.
    std::uint32_t repeat = 1;
    bool repeatGiven = false;
    double durationSeconds = 0;
    // Read by the engine for smb:// and nfs:// test files; empty: not given.
    std::string authenticationFile;
    // Session stress, with the dialog's defaults.
    std::int32_t blocks = fields::kBlocks.DefaultSigned();
    std::uint32_t bufferSize = fields::kBufferSize.DefaultUnsigned();
    // Outputs.
    bool save = false;
    bool quiet = false;
    std::string jsonPath;
    std::string csvPath;
    std::string plotPath;
    std::string reportPath;
    // The time line: the length of its intervals in seconds, each interval as a JSON line as it
    // ends (then the whole result), and every interval of the run as CSV.
    double intervalSeconds = 1;
    std::string jsonStreamPath;
    std::string seriesPath;
    // Clients on one host (fileio --clients): the numbers of clients to run, one run per number
    // (empty: this process alone is the client), the directory that holds each client's own
    // directory, how long a client may go without a word at its release (preparing, or
    // running a pass) before it is ended, and whether one client's failure ends them all.
    std::vector<std::uint32_t> clientCounts;
    std::string clientsDirectory = "zebcli-clients";
    double clientTimeoutSeconds = 300;
    bool stopOnFailure = false;
    // zebcli merge: the results files of the clients.
    std::vector<std::string> mergePaths;
    // zebcli log: the log to decode (empty: the default place) and the form of the output.
    std::string logPath;
    bool logJson = false;
};

// Where parsing ended: run with the options, or exit at once with exitStatus after printing
// message (the help or the version on standard output; a usage error on standard error).
struct ParseResult {
    bool run = false;
    Options options;
    int exitStatus = 0;
    std::string message;
};

// The exit statuses of zebcli.
inline constexpr int kExitPassed = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitNotWritten = 2;
inline constexpr int kExitUsage = 64;

// The longest test file path the runner accepts: a longer one would not fit the engine's
// message texts.
inline constexpr std::size_t kMaxPathBytes = 200;

// Parses the arguments after the program name.
ParseResult ParseArguments(std::span<const std::string_view> args);

// The I/O mode index of an option value: one of the nine names (ASCII case ignored) or its
// index 0-8; -1 for anything else.
int ModeIndex(std::string_view text);

} // namespace zebcli

#endif
