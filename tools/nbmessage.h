// The messages nbstation sends and checks, for peers that speak to it on the wire.
#ifndef ZEB_TOOLS_NBMESSAGE_H
#define ZEB_TOOLS_NBMESSAGE_H

#include <cstddef>
#include <vector>

// Message i of a stream: its number in the first four bytes, then bytes that depend on both
// the number and the offset, so that loss, reordering and corruption all show.
inline void FillMessage(std::vector<unsigned char>& buf, unsigned i) {
    for (std::size_t j = 0; j < buf.size(); ++j) {
        buf[j] = static_cast<unsigned char>(i * 131 + j * 7 + (j >> 8));
    }
    for (std::size_t j = 0; j < 4 && j < buf.size(); ++j) {
        buf[j] = static_cast<unsigned char>(i >> (8 * j));
    }
}

#endif
