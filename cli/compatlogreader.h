// The reader of the compatibility log: its records (type byte 7, a 16-bit little-endian length,
// the text with byte k XORed with k mod 256) decoded back into texts, with cut and damaged
// records found and passed over so that the records after them still decode.
#ifndef ZEBCLI_COMPATLOGREADER_H
#define ZEBCLI_COMPATLOGREADER_H

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

namespace zebcli {

struct LogEntry {
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
std::vector<LogEntry> DecodeCompatLog(std::span<const unsigned char> bytes);

// The log's default place: $WINDIR/ctlogs/PLV.log, or /var/log/ctlogs/PLV.log.
std::string DefaultLogPath();

// zebcli log: prints one line per record (or a JSON document) to out and each problem to err.
// Returns 0 when every record was whole, 1 when the log could not be read or held a cut or
// damaged record.
int DecodeLogCommand(const std::string& path, bool json, std::FILE* out, std::FILE* err);

} // namespace zebcli

#endif
