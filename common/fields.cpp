#include "fields.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace fields {

namespace {

constexpr std::int64_t kSaturation = 1'000'000'000'000'000'000;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Stores value into a field whose type holds low..high, clamping what does not fit.
template <typename T> StoreOutcome StoreNumber(std::string_view text, Range range, T& stored) {
    const std::optional<std::int64_t> value = ParseInteger(text);
    if (!value) {
        return StoreOutcome::NotAnInteger;
    }
    const std::int64_t low = std::numeric_limits<T>::min();
    const std::int64_t high = std::numeric_limits<T>::max();
    stored = static_cast<T>(std::clamp(*value, low, high));
    if (*value < range.low || *value > range.high) {
        return StoreOutcome::OutOfRange;
    }
    return StoreOutcome::Stored;
}

} // namespace

std::optional<std::int64_t> ParseInteger(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && IsBlank(text[at])) {
        ++at;
    }
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    const std::size_t digitsStart = at;
    std::int64_t value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
        const int digit = text[at] - '0';
        // Stop at the saturation value before the multiplication could leave 64 bits.
        value = value > (kSaturation - digit) / 10 ? kSaturation : value * 10 + digit;
        ++at;
    }
    if (at == digitsStart) {
        return std::nullopt;
    }
    while (at < text.size() && IsBlank(text[at])) {
        ++at;
    }
    if (at != text.size()) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

StoreOutcome StoreUnsigned(std::string_view text, Range range, std::uint32_t& stored) {
    return StoreNumber(text, range, stored);
}

StoreOutcome StoreSigned(std::string_view text, Range range, std::int32_t& stored) {
    return StoreNumber(text, range, stored);
}

StoreOutcome StoreText(std::string_view text, std::size_t limit, std::string& stored) {
    stored.assign(text);
    return text.size() > limit ? StoreOutcome::TooLong : StoreOutcome::Stored;
}

std::string OutcomeMessage(StoreOutcome outcome, Range range, std::size_t limit) {
    char text[96];
    switch (outcome) {
    case StoreOutcome::NotAnInteger:
        return "Please enter an integer.";
    case StoreOutcome::OutOfRange:
        std::snprintf(text, sizeof text, "Please enter an integer between %lld and %lld.",
                      static_cast<long long>(range.low), static_cast<long long>(range.high));
        return text;
    case StoreOutcome::TooLong:
        std::snprintf(text, sizeof text, "Please enter no more than %zu characters.", limit);
        return text;
    case StoreOutcome::Stored:
        break;
    }
    return {};
}

std::optional<std::size_t> FindModeEntry(std::span<const std::string> entries,
                                         std::string_view text) {
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::string& entry = entries[i];
        if (entry.size() < text.size()) {
            continue;
        }
        if (std::equal(text.begin(), text.end(), entry.begin(),
                       [](char a, char b) { return AsciiLower(a) == AsciiLower(b); })) {
            return i;
        }
    }
    return std::nullopt;
}

Keyword KeywordFromArguments(std::span<const std::string> arguments) {
    std::string joined;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (i > 0) {
            joined += ' ';
        }
        joined += arguments[i];
    }
    if (joined == "NETBIOS") {
        return Keyword::Netbios;
    }
    if (joined == "FILEIO") {
        return Keyword::FileIo;
    }
    return Keyword::None;
}

std::string_view CutToBytes(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) {
        return text;
    }
    // text[limit] is the first byte left out. When it continues a UTF-8 sequence, step back
    // to the sequence's lead byte (at most three bytes) and cut before it; a text that is not
    // UTF-8 there is cut at the limit itself.
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    std::size_t lead = limit;
    while (lead > 0 && limit - lead < 3 && (at(lead) & 0xC0) == 0x80) {
        --lead;
    }
    const std::size_t end = (lead < limit && (at(lead) & 0xC0) == 0xC0) ? lead : limit;
    return text.substr(0, end);
}

} // namespace fields
