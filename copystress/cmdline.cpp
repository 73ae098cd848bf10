#include "cmdline.h"

#include "url.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace vor32 {

namespace {

bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

std::int32_t RoundToCell(std::int32_t value) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value) & ~std::uint32_t{3});
}

// On Linux "/" also begins every absolute path: an argument that begins with "/" is a
// switch group only when it holds no second "/".
bool IsSwitchGroup(std::string_view arg) {
    if (arg.empty()) {
        return false;
    }
    if (arg.front() == '-') {
        return true;
    }
    return arg.front() == '/' && arg.find('/', 1) == std::string_view::npos;
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Takes the result by reference: a subject may point into it, and is copied before the result
// moves.
ParseResult Refuse(ParseResult&& result, ParseOutcome outcome, std::string subject = {}) {
    result.outcome = outcome;
    result.subject = std::move(subject);
    return result;
}

// Refusals of values that the program would otherwise take without a word; checked once the
// whole command line has been read.
ParseResult CheckLimits(ParseResult result) {
    const Settings& s = result.settings;
    const std::pair<const char*, std::int32_t> sizes[] = {
        {"MinSize", s.MinSize}, {"MaxSize", s.MaxSize}, {"Increment", s.Increment}};
    for (const auto& [name, value] : sizes) {
        if (value < 0) {
            return Refuse(std::move(result), ParseOutcome::NegativeSize, name);
        }
    }
    if (s.MaxSize < 4) {
        return Refuse(std::move(result), ParseOutcome::MaxSizeTooSmall);
    }
    for (const std::string* name : {&s.LogFileName, &s.DataFileName}) {
        if (name->size() > kMaxFileNameLength) {
            return Refuse(std::move(result), ParseOutcome::NameTooLong, *name);
        }
    }
    for (const std::string& target : s.TargetList) {
        if (DataFilePathLength(target, s.DataFileName) >= kPathBufferSize) {
            return Refuse(std::move(result), ParseOutcome::DataPathTooLong, target);
        }
    }
    // An URL target is checked as the URL of its data file; the refusal's words never quote
    // it, as it may hold a password.
    for (std::size_t t = 0; t < s.TargetList.size(); ++t) {
        const std::string& target = s.TargetList[t];
        if (url::SchemeOf(target) == url::Scheme::Local) {
            continue;
        }
        const std::string dataFile = target + (NeedsSeparator(target) ? "/" : "") + s.DataFileName;
        if (url::Parsed parsed = url::Parse(dataFile); !parsed.url) {
            result.targetNumber = t + 1;
            return Refuse(std::move(result), ParseOutcome::TargetRefused, parsed.refusal);
        }
    }
    return result;
}

} // namespace

std::int32_t ReadNumber32(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulate the magnitude, stopping once it is past every 32-bit value.
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        magnitude = std::min(magnitude * 10 + (text[i] - '0'), kLimit);
    }
    std::int64_t value = negative ? -magnitude : magnitude;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

ParseResult ParseCommandLine(std::span<const std::string_view> args) {
    ParseResult result;
    if (args.size() == 1 && args[0].size() >= 2 && args[0][1] == '?') {
        result.outcome = ParseOutcome::Describe;
        return result;
    }
    if (args.size() < 5) {
        result.outcome = ParseOutcome::Usage;
        return result;
    }
    Settings& s = result.settings;
    s.MinSize = RoundToCell(ReadNumber32(args[0]));
    s.MaxSize = RoundToCell(ReadNumber32(args[1]));
    s.Increment = RoundToCell(ReadNumber32(args[2]));
    if (s.Increment == 0) {
        s.Increment = 4;
    }

    for (std::size_t i = 3; i < args.size(); ++i) {
        std::string_view arg = args[i];
        if (!IsSwitchGroup(arg)) {
            if (arg.size() >= kMaxTargetLength) {
                return Refuse(std::move(result), ParseOutcome::TargetTooLong, std::string(arg));
            }
            if (s.TargetList.size() == kMaxTargets) {
                return Refuse(std::move(result), ParseOutcome::TooManyTargets, std::string(arg));
            }
            s.TargetList.emplace_back(arg);
            continue;
        }
        for (char letter : arg.substr(1)) {
            switch (Lower(letter)) {
            case 't':
                s.StopAtMaxSize = true;
                break;
            case 'v':
                s.LogAllOutput = true;
                break;
            case 'h':
                s.ExitCodeThree = true;
                break;
            case 'n':
                s.ReadsFromServer = ServerReads::Always;
                break;
            case 'k':
                s.ReadsFromServer = ServerReads::Never;
                break;
            case 'l':
            case 'd':
                // Each l or d takes the next argument, unexamined; none left keeps the default.
                if (i + 1 < args.size()) {
                    ++i;
                    (Lower(letter) == 'l' ? s.LogFileName : s.DataFileName) = args[i];
                }
                break;
            default:
                result.invalidSwitch = letter;
                return Refuse(std::move(result), ParseOutcome::InvalidSwitch);
            }
        }
    }
    if (s.TargetList.size() < 2) {
        return Refuse(std::move(result), ParseOutcome::TooFewTargets);
    }
    result.outcome = ParseOutcome::Run;
    return CheckLimits(std::move(result));
}

std::string RefusalText(const ParseResult& result) {
    char text[kMessageBufferSize];
    const std::string& subject = result.subject;
    switch (result.outcome) {
    case ParseOutcome::Run:
    case ParseOutcome::Describe:
    case ParseOutcome::Usage:
        return {};
    case ParseOutcome::InvalidSwitch:
        std::snprintf(text, sizeof text, "Invalid switch: %c\n", result.invalidSwitch);
        break;
    case ParseOutcome::TargetTooLong:
        std::snprintf(text, sizeof text, "Max target path length is %d\n",
                      static_cast<int>(kMaxTargetLength));
        break;
    case ParseOutcome::TooFewTargets:
        return "You must have more than 1 target to run this test.\n";
    case ParseOutcome::TooManyTargets:
        std::snprintf(text, sizeof text, "Max number of targets is %d\n",
                      static_cast<int>(kMaxTargets));
        break;
    case ParseOutcome::NegativeSize:
        std::snprintf(text, sizeof text, "%s must not be negative.\n", subject.c_str());
        break;
    case ParseOutcome::MaxSizeTooSmall:
        return "MaxSize must be at least 4 bytes.\n";
    case ParseOutcome::NameTooLong:
        std::snprintf(text, sizeof text, "Max file name length is %d; too long: '",
                      static_cast<int>(kMaxFileNameLength));
        return text + subject + "'\n";
    case ParseOutcome::DataPathTooLong:
        std::snprintf(text, sizeof text, "Max data file path length is %d; too long at target '",
                      static_cast<int>(kPathBufferSize - 1));
        return text + subject + "'\n";
    case ParseOutcome::TargetRefused:
        std::snprintf(text, sizeof text, "Target %zu is refused: the URL ", result.targetNumber);
        return text + subject + ".\n";
    }
    return text;
}

bool ShowsUsage(ParseOutcome outcome) {
    return outcome == ParseOutcome::Describe || outcome == ParseOutcome::Usage ||
           outcome == ParseOutcome::InvalidSwitch || outcome == ParseOutcome::TooFewTargets;
}

} // namespace vor32
