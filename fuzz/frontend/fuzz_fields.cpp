// The control dialog's field parsing, fed arbitrary field texts: number fields read exactly the
// decimal integers a reference reading finds, store within their type, and fail outside their
// range; texts are cut only at character boundaries; mode texts map to a valid index.
#include "fields.h"
#include "require.h"

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Reference reading: blanks, an optional sign, digits, blanks, nothing else; saturating.
std::optional<std::int64_t> Reference(std::string_view text) {
    constexpr std::int64_t cap = 1'000'000'000'000'000'000;
    std::size_t i = text.find_first_not_of(" \t");
    if (i == std::string_view::npos) {
        return std::nullopt;
    }
    bool negative = false;
    if (text[i] == '+' || text[i] == '-') {
        negative = text[i] == '-';
        ++i;
    }
    const std::size_t end = std::min(text.find_first_not_of("0123456789", i), text.size());
    if (end == i || text.find_first_not_of(" \t", end) != std::string_view::npos) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    for (std::size_t k = i; k < end; ++k) {
        value = value >= cap / 10 ? cap : std::min(cap, value * 10 + (text[k] - '0'));
    }
    return negative ? -value : value;
}

bool ValidUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        std::size_t n = c < 0x80             ? 1
                        : (c & 0xE0) == 0xC0 ? 2
                        : (c & 0xF0) == 0xE0 ? 3
                        : (c & 0xF8) == 0xF0 ? 4
                                             : 0;
        if (n == 0 || i + n > s.size()) {
            return false;
        }
        for (std::size_t k = 1; k < n; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        i += n;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) {
        return 0;
    }
    // Two bytes choose the range and the limit; the rest is the field text.
    const std::int64_t low = static_cast<std::int8_t>(data[0]) * 1000;
    const fields::Range range{low, low + data[1] * 1000};
    const std::size_t limit = data[1];
    const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);

    const std::optional<std::int64_t> value = fields::ParseInteger(text);
    Require(value == Reference(text));

    std::uint32_t unsignedField = 1234;
    std::int32_t signedField = -1234;
    auto u = fields::StoreUnsigned(text, range, unsignedField);
    auto s = fields::StoreSigned(text, range, signedField);
    if (!value) {
        Require(u == fields::StoreOutcome::NotAnInteger && unsignedField == 1234);
        Require(s == fields::StoreOutcome::NotAnInteger && signedField == -1234);
    } else {
        bool inRange = *value >= range.low && *value <= range.high;
        bool fitsUnsigned = *value >= 0 && *value <= std::numeric_limits<std::uint32_t>::max();
        bool fitsSigned = *value >= std::numeric_limits<std::int32_t>::min() &&
                          *value <= std::numeric_limits<std::int32_t>::max();
        Require((u == fields::StoreOutcome::Stored) == inRange);
        Require((s == fields::StoreOutcome::Stored) == inRange);
        Require(u == fields::StoreOutcome::Stored || u == fields::StoreOutcome::OutOfRange);
        Require(s == fields::StoreOutcome::Stored || s == fields::StoreOutcome::OutOfRange);
        if (fitsUnsigned) {
            Require(unsignedField == *value);
        } else {
            Require(unsignedField == (*value < 0 ? 0u : std::numeric_limits<std::uint32_t>::max()));
        }
        if (fitsSigned) {
            Require(signedField == *value);
        } else {
            Require(signedField == (*value < 0 ? std::numeric_limits<std::int32_t>::min()
                                               : std::numeric_limits<std::int32_t>::max()));
        }
        std::string message = fields::OutcomeMessage(u, range, limit);
        Require(inRange ? message.empty()
                        : message.rfind("Please enter an integer between", 0) == 0);
    }

    std::string stored;
    auto t = fields::StoreText(text, limit, stored);
    Require(stored == text);
    Require((t == fields::StoreOutcome::TooLong) == (text.size() > limit));

    std::string_view cut = fields::CutToBytes(text, limit);
    Require(cut.size() <= limit || cut.size() == text.size());
    Require(cut.size() <= text.size() && text.substr(0, cut.size()) == cut);
    Require(text.size() <= limit ? cut.size() == text.size() : cut.size() + 3 >= limit);
    if (ValidUtf8(text)) {
        Require(ValidUtf8(cut));
    }

    int mode = fields::IoModeFromText(text);
    Require(mode >= 0 && mode < static_cast<int>(fields::kModeNames.size()));
    Require(mode == fields::kDefaultMode || fields::kModeNames[mode] == text);
    std::vector<std::string> entries(fields::kModeNames.begin(), fields::kModeNames.end());
    auto entry = fields::FindModeEntry(entries, text);
    if (entry) {
        Require(*entry < entries.size() && entries[*entry].size() >= text.size());
    }
    return 0;
}
