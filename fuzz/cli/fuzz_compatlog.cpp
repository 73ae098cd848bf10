// The compatibility log's decoder, fed arbitrary logs: the entries cover the log from its first
// byte to its last in order, and every record taken as whole encodes back to the very bytes it
// was read from.
#include "compatlogdecoder.h"

#include <cstdint>
#include <cstdlib>
#include <span>

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const unsigned char> log(data, size);
    const std::vector<compatlog::Entry> entries = compatlog::Decode(log);
    std::size_t at = 0;
    bool skipping = false; // after a damaged entry: the next one says where its bytes end
    for (const compatlog::Entry& e : entries) {
        Require((skipping ? e.offset > at : e.offset == at) && e.offset < size);
        at = e.offset;
        skipping = e.kind == compatlog::Entry::Kind::Damaged;
        if (skipping) {
            Require(e.text.empty() && !e.problem.empty());
            continue;
        }
        Require(e.announced >= 1 && e.text.size() <= e.announced && at + 3 <= size);
        Require(data[at] == 7 &&
                static_cast<std::size_t>(data[at + 1] | data[at + 2] << 8) == e.announced);
        for (std::size_t k = 0; k < e.text.size(); ++k) {
            Require(data[at + 3 + k] == (static_cast<unsigned char>(e.text[k]) ^ (k & 0xFF)));
        }
        Require((e.kind == compatlog::Entry::Kind::Record) == (e.text.size() == e.announced));
        at += 3 + e.text.size();
    }
    Require(skipping || at == size);
    Require(entries.empty() == (size == 0));
    return 0;
}
