// The decoder of the compatibility log: its records (type byte 7, a 16-bit little-endian
// length, the text with byte k XORed with k mod 256) decoded back into texts, with cut and
// damaged records found and passed over so that the records after them still decode. zebcli
// log prints what it finds; the engine's tests read the logs they make through it.
#ifndef ZEB_COMMON_COMPATLOGDECODER_H
#define ZEB_COMMON_COMPATLOGDECODER_H

#include <cstddef>
#include <span>
#include <string>
#include <vector>

namespace compatlog {

struct Entry {
    enum class Kind { Record, Cut, Damaged };
    Kind kind = Kind::Record;
    std::size_t offset = 0;    // where the record begins in the log
    std::size_t announced = 0; // the length its header states
    std::string text;          // the decoded text: whole, or as much as there is of a cut one
    std::string problem;       // for Cut and Damaged: what is wrong, in words
};

// Decodes a whole log. A record is taken as cut when its length runs past the end of the log,
// or when it does not end in CR LF (as every text of the engine does) while a record that
// does starts inside it; bytes that are not a record are reported once per stretch and
// skipped up to the next record.
std::vector<Entry> Decode(std::span<const unsigned char> bytes);

} // namespace compatlog

#endif
