// The lines zebcli prints after its runs: a header that names the columns and their units, one
// row per pass or session with its rate beside the transfer time the rate is taken over, and
// the totals. Byte counts are shown in decimal units (kB, MB, GB: powers of 1000, as the MB/s
// of the rates); the results files keep them exact.
#ifndef ZEBCLI_ENDSUMMARY_H
#define ZEBCLI_ENDSUMMARY_H

#include "options.h"
#include "records.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zebcli {

// A byte count for people: "512 B", "24.8 kB", "3.67 GB" (three significant digits).
std::string HumanBytes(std::uint64_t bytes);

// The header, one row per run and the totals line.
std::vector<std::string> EndSummary(const Options& options, const std::vector<RunRecord>& runs);

} // namespace zebcli

#endif
