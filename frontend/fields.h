// Field parsing and validation of the control dialog, as pure functions over byte texts, so
// that the dialog, its tests and a fuzz target share one implementation.
#ifndef ZEBWIN_FIELDS_H
#define ZEBWIN_FIELDS_H

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

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

// The access patterns in index order; IoModeFromText compares with these exactly.
inline constexpr std::array<std::string_view, 9> kModeNames = {
    "Sequential Read", "Sequential Write", "Sequential R & W", "Random Read",  "Random Write",
    "Random R & W",    "Overlay Read",     "Overlay Write",    "Overlay R & W"};
// The pattern that any other text selects ("Random R & W").
inline constexpr int kDefaultMode = 5;

// The access pattern index of a mode text: exact comparison, case counts, no trimming.
int IoModeFromText(std::string_view text);

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
