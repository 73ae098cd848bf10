#include "compatlogreader.h"

#include "compatlogdecoder.h"
#include "enginetext.h"
#include "summary.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace zebcli {

std::string DefaultLogPath() {
    const char* windir = std::getenv("WINDIR");
    return std::string(windir != nullptr && windir[0] != '\0' ? windir : "/var/log") +
           "/ctlogs/PLV.log";
}

int DecodeLogCommand(const std::string& path, bool json, std::FILE* out, std::FILE* err) {
    const std::string log = path.empty() ? DefaultLogPath() : path;
    std::ifstream file(log, std::ios::binary);
    if (!file) {
        std::fprintf(err, "zebcli: cannot read %s: %s\n", log.c_str(), std::strerror(errno));
        return 1;
    }
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(file),
                                           std::istreambuf_iterator<char>()};
    if (file.bad()) {
        std::fprintf(err, "zebcli: cannot read %s\n", log.c_str());
        return 1;
    }
    const std::vector<compatlog::Entry> entries = compatlog::Decode(bytes);
    bool whole = true;
    nlohmann::ordered_json records = nlohmann::ordered_json::array();
    nlohmann::ordered_json problems = nlohmann::ordered_json::array();
    for (const compatlog::Entry& e : entries) {
        if (e.kind == compatlog::Entry::Kind::Record) {
            if (json) {
                records.push_back(
                    {{"offset", e.offset}, {"length", e.announced}, {"text", BoardUtf8(e.text)}});
            } else {
                std::fprintf(out, "%8zu  %s\n", e.offset, EngineLine(e.text).c_str());
            }
            continue;
        }
        whole = false;
        std::fprintf(err, "zebcli: %s: offset %zu: %s%s%s\n", log.c_str(), e.offset,
                     e.problem.c_str(), e.text.empty() ? "" : ": ",
                     e.text.empty() ? "" : EngineLine(e.text).c_str());
        if (json) {
            nlohmann::ordered_json p = {{"offset", e.offset}, {"problem", e.problem}};
            if (e.kind == compatlog::Entry::Kind::Cut) {
                p["length"] = e.announced;
                p["text"] = BoardUtf8(e.text);
            }
            problems.push_back(p);
        }
    }
    if (json) {
        nlohmann::ordered_json doc = {{"log", BoardUtf8(log)},
                                      {"size", bytes.size()},
                                      {"records", records},
                                      {"problems", problems}};
        std::fprintf(out, "%s\n", doc.dump(2).c_str());
    }
    std::fflush(out);
    return whole ? 0 : 1;
}

} // namespace zebcli
