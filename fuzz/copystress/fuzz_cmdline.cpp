// The vor32 command line: the input, split at zero bytes, is the argument list. Whatever it
// holds, parsing ends with an outcome whose settings keep every limit the run relies on.
#include "cmdline.h"
#include "require.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The reference reading of a number: strtoll where it fits, clamped to 32 bits.
std::int32_t Reference(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
        ++i;
    }
    bool negative = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value < (1LL << 40)) {
            value = value * 10 + (text[i] - '0');
        }
    }
    return static_cast<std::int32_t>(
        std::clamp<long long>(negative ? -value : value, INT32_MIN, INT32_MAX));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.emplace_back();
        } else {
            args.back().push_back(static_cast<char>(data[i]));
        }
    }
    for (const std::string& arg : args) {
        Require(vor32::ReadNumber32(arg) == Reference(arg));
    }
    std::vector<std::string_view> views(args.begin(), args.end());
    vor32::ParseResult result = vor32::ParseCommandLine(views);
    // Parsing is a function of its input.
    vor32::ParseResult again = vor32::ParseCommandLine(views);
    Require(again.outcome == result.outcome);

    std::string refusal = vor32::RefusalText(result);
    switch (result.outcome) {
    case vor32::ParseOutcome::Run: {
        const vor32::Settings& s = result.settings;
        Require(refusal.empty());
        Require(s.MinSize >= 0 && s.MinSize % 4 == 0);
        Require(s.MaxSize >= 4 && s.MaxSize % 4 == 0);
        Require(s.Increment >= 4 && s.Increment % 4 == 0);
        Require(s.TargetList.size() >= 2 && s.TargetList.size() <= vor32::kMaxTargets);
        Require(s.LogFileName.size() <= vor32::kMaxFileNameLength);
        Require(s.DataFileName.size() <= vor32::kMaxFileNameLength);
        for (const std::string& target : s.TargetList) {
            Require(target.size() < vor32::kMaxTargetLength);
            Require(vor32::DataFilePathLength(target, s.DataFileName) < vor32::kPathBufferSize);
        }
        break;
    }
    case vor32::ParseOutcome::Describe:
    case vor32::ParseOutcome::Usage:
        Require(refusal.empty());
        Require(vor32::ShowsUsage(result.outcome));
        break;
    case vor32::ParseOutcome::NameTooLong:
    case vor32::ParseOutcome::TargetTooLong:
        // the refusal names what it refuses
        Require(result.subject.size() > vor32::kMaxFileNameLength ||
                result.subject.size() >= vor32::kMaxTargetLength);
        Require(!refusal.empty() && refusal.back() == '\n');
        break;
    default:
        Require(!refusal.empty() && refusal.back() == '\n');
        break;
    }
    return 0;
}
