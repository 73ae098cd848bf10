// Whether bytes are UTF-8: the results' texts (zebcli) and the names an SMB server takes (the
// engine) both need it.
#ifndef ZEB_UTF8_H
#define ZEB_UTF8_H

#include <cstddef>
#include <string_view>

namespace utf8 {

// Whether text is valid UTF-8: no overlong form, no surrogate, nothing above U+10FFFF.
bool Valid(std::string_view text);

// The length of the valid multi-byte sequence that starts at text[at], or 0 when none does
// (an ASCII byte included).
std::size_t SequenceLength(std::string_view text, std::size_t at);

} // namespace utf8

#endif
