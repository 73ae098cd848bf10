// zebcli log: the compatibility log (decoded by common/compatlogdecoder.h) printed as one line
// per record or as a JSON document, with its cut and damaged records reported.
#ifndef ZEBCLI_COMPATLOGREADER_H
#define ZEBCLI_COMPATLOGREADER_H

#include <cstdio>
#include <string>

namespace zebcli {

// The log's default place: $WINDIR/ctlogs/PLV.log, or /var/log/ctlogs/PLV.log.
std::string DefaultLogPath();

// zebcli log: prints one line per record (or a JSON document) to out and each problem to err.
// Returns 0 when every record was whole, 1 when the log could not be read or held a cut or
// damaged record.
int DecodeLogCommand(const std::string& path, bool json, std::FILE* out, std::FILE* err);

} // namespace zebcli

#endif
