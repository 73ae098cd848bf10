#include "enginetext.h"

#include "utf8.h"

#include <cstdio>

namespace zebcli {

namespace {

bool IsLineEnd(char c) {
    return c == '\n' || c == '\r';
}

void AppendEscaped(std::string& line, unsigned char byte) {
    char escaped[5];
    std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
    line += escaped;
}

// The two bytes of U+0080-U+009F in UTF-8.
bool IsC1(std::string_view text, std::size_t at, std::size_t length) {
    return length == 2 && static_cast<unsigned char>(text[at]) == 0xC2 &&
           static_cast<unsigned char>(text[at + 1]) <= 0x9F;
}

// The report of a damaged pair: "%c expected %c actual %c" after the label and a blank.
constexpr std::string_view kBadPairLabel = "BYTES_DO_NOT_MISMATCH ";
constexpr std::string_view kBadPairExpected = " expected ";
constexpr std::string_view kBadPairActual = " actual ";

} // namespace

std::string EngineLine(std::string_view text) {
    while (!text.empty() && IsLineEnd(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsLineEnd(text.back())) {
        text.remove_suffix(1);
    }
    std::string line;
    line.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const char c = text[at];
        const auto byte = static_cast<unsigned char>(c);
        if (IsLineEnd(c)) {
            line += ' ';
            ++at;
        } else if (c == '\\') {
            line += "\\\\";
            ++at;
        } else if (byte < 0x20 || byte == 0x7F) {
            AppendEscaped(line, byte);
            ++at;
        } else if (byte < 0x80) {
            line += c;
            ++at;
        } else if (const std::size_t length = utf8::SequenceLength(text, at);
                   length > 0 && !IsC1(text, at, length)) {
            line.append(text.substr(at, length));
            at += length;
        } else {
            const std::size_t escaped = length > 0 ? length : 1;
            for (std::size_t i = 0; i < escaped; ++i) {
                AppendEscaped(line, static_cast<unsigned char>(text[at + i]));
            }
            at += escaped;
        }
    }
    return line;
}

std::string BadPairLine(std::string_view text, int expected, int actual) {
    if (expected < 0 || expected > 0xFF || actual < 0 || actual > 0xFF ||
        !text.starts_with(kBadPairLabel)) {
        return EngineLine(text);
    }
    // The byte read before the one expected is its complement (the pair pattern).
    std::string whole(kBadPairLabel);
    whole += static_cast<char>(~expected & 0xFF);
    whole.append(kBadPairExpected);
    whole += static_cast<char>(expected);
    whole.append(kBadPairActual);
    whole += static_cast<char>(actual);
    std::string_view posted = text;
    while (!posted.empty() && IsLineEnd(posted.back())) {
        posted.remove_suffix(1);
    }
    // Only a report cut exactly where a 0x00 stood is completed.
    const std::size_t cut = whole.find('\0');
    if (cut == std::string::npos || posted != std::string_view(whole).substr(0, cut)) {
        return EngineLine(text);
    }
    return EngineLine(whole);
}

} // namespace zebcli
