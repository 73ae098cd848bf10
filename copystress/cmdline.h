// The command line of vor32, read by a pure function: no output, no files, no exit.
#ifndef VOR32_CMDLINE_H
#define VOR32_CMDLINE_H

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vor32 {

inline constexpr std::size_t kMaxTargets = 20;
inline constexpr std::size_t kMaxTargetLength = 68; // a target this long is refused
inline constexpr std::size_t kPathBufferSize = 80;  // data file paths hold 79 characters
inline constexpr std::size_t kMessageBufferSize = 256;
// "LogFile name:  \t'%s'\n" and "DataFile name: \t'%s'\n" must leave room for CR LF and the
// terminator in the message buffer: 19 characters of text around the name.
inline constexpr std::size_t kMaxFileNameLength = kMessageBufferSize - 2 - 19;
inline constexpr char kDefaultLogFileName[] = "VOR32.LOG";
inline constexpr char kDefaultDataFileName[] = "VOR32's data file.DATA";

// Whether a copy and a growth are made durable and their file's cached pages dropped before
// the check reads it back, so that the check reads what the server holds: by the file system
// type (network file systems and FUSE), or as switches n and k ask for any file system.
enum class ServerReads {
    ByFileSystem, // the default
    Always,       // n
    Never,        // k
};

struct Settings {
    std::int32_t MinSize = 0;   // rounded down to a multiple of 4
    std::int32_t MaxSize = 0;   // rounded down to a multiple of 4
    std::int32_t Increment = 0; // rounded down to a multiple of 4; never 0
    std::vector<std::string> TargetList;
    std::string LogFileName = kDefaultLogFileName;
    std::string DataFileName = kDefaultDataFileName;
    bool StopAtMaxSize = false;                              // t
    bool LogAllOutput = false;                               // v
    bool ExitCodeThree = false;                              // h
    ServerReads ReadsFromServer = ServerReads::ByFileSystem; // n, k: the last one given
};

enum class ParseOutcome {
    Run,             // settings are complete and valid
    Describe,        // the single question-mark form: usage with the description
    Usage,           // too few arguments: usage without the description
    InvalidSwitch,   // a switch letter that means nothing; usage follows its message
    TargetTooLong,   // a target of kMaxTargetLength characters or more
    TooFewTargets,   // fewer than two targets; usage follows its message
    TooManyTargets,  // more than kMaxTargets targets
    NegativeSize,    // MinSize, MaxSize or Increment below 0
    MaxSizeTooSmall, // MaxSize below 4
    NameTooLong,     // a log or data file name longer than kMaxFileNameLength
    DataPathTooLong, // a target joined with the data file name exceeds the path buffer
    TargetRefused,   // an URL target that cannot be taken (a password in it, say)
};

struct ParseResult {
    ParseOutcome outcome = ParseOutcome::Usage;
    Settings settings;
    char invalidSwitch = 0;       // for InvalidSwitch
    std::string subject;          // what a refusal is about: a size's name, a file name, a target
    std::size_t targetNumber = 0; // for TargetRefused: the target's place in the list, from 1
};

// args are the arguments after the program name.
ParseResult ParseCommandLine(std::span<const std::string_view> args);

// The console message of a refusal (empty for Run, Describe and Usage).
std::string RefusalText(const ParseResult& result);
// Whether the usage text follows the outcome's message.
bool ShowsUsage(ParseOutcome outcome);

// A decimal number as atol() reads it (leading white space, an optional sign, digits up to
// the first other character; no digits gives 0), clamped to the 32-bit range.
std::int32_t ReadNumber32(std::string_view text);

// The data file at a target: the target, a "/" unless it already ends in one, the name.
inline bool NeedsSeparator(std::string_view target) {
    return target.empty() || target.back() != '/';
}
inline std::size_t DataFilePathLength(std::string_view target, std::string_view name) {
    return target.size() + (NeedsSeparator(target) ? 1 : 0) + name.size();
}

} // namespace vor32

#endif
