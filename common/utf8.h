// Whether bytes are UTF-8: the results' texts (zebcli) and the names an SMB server takes (the
// engine) both need it.
#ifndef ZEB_UTF8_H
#define ZEB_UTF8_H

#include <string_view>

namespace utf8 {

// Whether text is valid UTF-8: no overlong form, no surrogate, nothing above U+10FFFF.
bool Valid(std::string_view text);

} // namespace utf8

#endif
