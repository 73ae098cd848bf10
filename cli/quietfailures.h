// zebcli -q: a pass's failures in a few lines, each kind of failure once with how often it
// was posted and the first and last offset it named, instead of every text posted.
#ifndef ZEBCLI_QUIETFAILURES_H
#define ZEBCLI_QUIETFAILURES_H

#include "records.h"

#include <string>
#include <vector>

namespace zebcli {

// One line per kind: its first text rendered for the terminal, then, unless it came once and
// named no offset, its kind, count and offsets in brackets.
std::vector<std::string> QuietLines(const std::vector<FailureRecord>& tallies);

} // namespace zebcli

#endif
