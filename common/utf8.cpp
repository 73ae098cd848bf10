#include "utf8.h"

#include <cstddef>
#include <cstdint>

namespace utf8 {

std::size_t SequenceLength(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length;
    std::uint32_t min;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, min = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size()) {
        return 0;
    }
    std::uint32_t code = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return 0;
    }
    return length;
}

bool Valid(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        if (static_cast<unsigned char>(text[at]) < 0x80) {
            ++at;
        } else if (std::size_t length = SequenceLength(text, at)) {
            at += length;
        } else {
            return false;
        }
    }
    return true;
}

} // namespace utf8
