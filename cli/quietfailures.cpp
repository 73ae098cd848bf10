#include "quietfailures.h"

#include "enginetext.h"

namespace zebcli {

std::vector<std::string> QuietLines(const std::vector<FailureRecord>& tallies) {
    std::vector<std::string> lines;
    for (const FailureRecord& t : tallies) {
        std::string line = BadPairLine(t.text, t.expected, t.actual);
        if (t.count == 1 && t.firstOffset < 0) {
            lines.push_back(line);
            continue;
        }
        line +=
            " [" + t.kind + ": " + std::to_string(t.count) + (t.count == 1 ? " time" : " times");
        if (t.firstOffset >= 0) {
            line += t.count == 1 || t.firstOffset == t.lastOffset
                        ? ", at offset " + std::to_string(t.firstOffset)
                        : ", first at offset " + std::to_string(t.firstOffset) + ", last at " +
                              std::to_string(t.lastOffset);
        }
        lines.push_back(line + "]");
    }
    return lines;
}

} // namespace zebcli
