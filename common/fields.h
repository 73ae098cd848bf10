// The fields of the engine's tests as the control dialog and zebcli both take them: one table
// of their ranges, text limits and defaults, and their parsing and validation as pure
// functions over byte texts, shared by the dialog, zebcli, their tests and a fuzz target.
#ifndef ZEB_FIELDS_H
#define ZEB_FIELDS_H

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "modes.h"

namespace fields {

// What storing one field came to. Every outcome but Stored fails StoreFields.
enum class StoreOutcome { Stored, NotAnInteger, OutOfRange, TooLong };

// The accepted range of a number field, both ends included.
struct Range {
    std::int64_t low;
    std::int64_t high;
};

// Reads a decimal integer: blanks or tabs, an optional sign, at least one digit, blanks or
// tabs, and nothing else. nullopt when the text is not such a number. Values beyond
// +-10^18 read as +-10^18, which lies outside every field's type.
std::optional<std::int64_t> ParseInteger(std::string_view text);

// Stores a number field. A number that reads is stored at once and then tested against the
// range, so an out-of-range number stays stored. A number that does not fit the field's
// 32-bit type is stored as the nearest value of that type (outside every accepted range) and
// fails with OutOfRange. Text that does not read leaves stored unchanged.
StoreOutcome StoreUnsigned(std::string_view text, Range range, std::uint32_t& stored);
StoreOutcome StoreSigned(std::string_view text, Range range, std::int32_t& stored);

// Stores a text field whole, then tests its length in bytes against limit.
StoreOutcome StoreText(std::string_view text, std::size_t limit, std::string& stored);

// The message box text for a failed store: the bounds of range or the limit filled in.
std::string OutcomeMessage(StoreOutcome outcome, Range range, std::size_t limit);

// One field: what it accepts, what it holds before the operator types anything, and the
// zebcli option that sets the same value (empty when there is none).
struct Field {
    std::string_view option;
    Range range;           // a number field's accepted values; {0, 0} for a text field
    std::size_t limit;     // a text field's most bytes; 0 for a number field
    std::int64_t number;   // a number field's default
    std::string_view text; // a text field's default

    constexpr std::uint32_t DefaultUnsigned() const { return static_cast<std::uint32_t>(number); }
    constexpr std::int32_t DefaultSigned() const { return static_cast<std::int32_t>(number); }
    bool InRange(std::int64_t value) const { return value >= range.low && value <= range.high; }
    // The message box text for a failed store of this field.
    std::string Message(StoreOutcome outcome) const {
        return OutcomeMessage(outcome, range, limit);
    }
};

// The fields, in the order the dialog stores them.
// Session stress: the block size and the number of blocks.
inline constexpr Field kBufferSize{"--size", {1, 65535}, 0, 65535, {}};
inline constexpr Field kBlocks{"--blocks", {1, 32000}, 0, 1000, {}};
// The message board, stored with the fields: thirty blanks, then the greeting.
inline constexpr Field kBoard{
    {}, {0, 0}, 120, 0, "                              Welcome to ZEB Lan Stress Tool !"};
// File I/O stress: the test file, the sweep of buffer sizes, the operations per pass and the
// I/O mode's text. zebcli takes the test file as an argument, with a limit of its own.
inline constexpr Field kTestFileName{{}, {0, 0}, 30, 0, "M:\\ANYNAME.TST"};
inline constexpr Field kFromSize{"--from", {1, 65535}, 0, 1024, {}};
inline constexpr Field kIteration{"--iterations", {2, 32000}, 0, 10, {}};
inline constexpr Field kModeText{"--mode", {0, 0}, 20, 0, "Overlay Write"};
inline constexpr Field kSizeIncrement{"--inc", {2, 32000}, 0, 8, {}};
inline constexpr Field kToSize{"--to", {2, 32000}, 0, 2048, {}};

// The access patterns' texts in index order; IoModeFromText compares with these exactly.
inline constexpr const auto& kModeNames = modes::kAccessModeNames;
// The pattern that any other text selects ("Random R & W").
inline constexpr int kDefaultMode = modes::Index(modes::AccessMode::RandomReadWrite);

// The access pattern index of a mode text: exact comparison, case counts, no trimming.
constexpr int IoModeFromText(std::string_view text) {
    for (std::size_t mode = 0; mode < kModeNames.size(); ++mode) {
        if (kModeNames[mode] == text) {
            return static_cast<int>(mode);
        }
    }
    return kDefaultMode;
}

// The first entry that begins with text, ASCII case ignored; nullopt when none does.
std::optional<std::size_t> FindModeEntry(std::span<const std::string> entries,
                                         std::string_view text);

// The command-line keyword that fixes the test.
enum class Keyword { None, Netbios, FileIo };

// The arguments after the program name, joined by single blanks, compared whole and with
// case counting with "NETBIOS" and "FILEIO".
Keyword KeywordFromArguments(std::span<const std::string> arguments);

// The longest prefix of text of at most limit bytes that does not end inside a UTF-8
// sequence (a text that is not UTF-8 is cut at limit).
std::string_view CutToBytes(std::string_view text, std::size_t limit);

} // namespace fields

#endif
