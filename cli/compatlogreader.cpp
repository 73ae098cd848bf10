#include "compatlogreader.h"

#include "summary.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace zebcli {

namespace {

constexpr unsigned char kRecordType = 7;
constexpr std::size_t kHeader = 3;

class Decoder {
  public:
    explicit Decoder(std::span<const unsigned char> bytes) : m_bytes(bytes) {}

    std::size_t Length(std::size_t at) const { return m_bytes[at + 1] | m_bytes[at + 2] << 8; }

    // The text of count payload bytes from the record at at.
    std::string Text(std::size_t at, std::size_t count) const {
        std::string text(count, '\0');
        for (std::size_t k = 0; k < count; ++k) {
            text[k] = static_cast<char>(m_bytes[at + kHeader + k] ^ (k & 0xFF));
        }
        return text;
    }

    // A whole record of the engine's starts at at: its header, its length inside the log and
    // its text ending in CR LF.
    bool Plausible(std::size_t at) const {
        if (at + kHeader > m_bytes.size() || m_bytes[at] != kRecordType) {
            return false;
        }
        const std::size_t n = Length(at);
        if (n < 2 || at + kHeader + n > m_bytes.size()) {
            return false;
        }
        const auto last = [&](std::size_t k) { return m_bytes[at + kHeader + k] ^ (k & 0xFF); };
        return last(n - 2) == '\r' && last(n - 1) == '\n';
    }

    // The first plausible record in [from, to), or to.
    std::size_t Next(std::size_t from, std::size_t to) const {
        for (std::size_t at = from; at < to; ++at) {
            if (Plausible(at)) {
                return at;
            }
        }
        return to;
    }

    std::vector<LogEntry> Run() const {
        std::vector<LogEntry> entries;
        const std::size_t size = m_bytes.size();
        std::size_t at = 0;
        while (at < size) {
            LogEntry e;
            e.offset = at;
            if (size - at < kHeader || m_bytes[at] != kRecordType || Length(at) == 0) {
                const std::size_t next = Next(at + 1, size);
                e.kind = LogEntry::Kind::Damaged;
                e.problem = "not a record (byte " + Hex(m_bytes[at]) +
                            "): " + std::to_string(next - at) + " bytes skipped";
                entries.push_back(std::move(e));
                at = next;
                continue;
            }
            e.announced = Length(at);
            const std::size_t end = at + kHeader + e.announced;
            if (end <= size && (Plausible(at) || Next(at + kHeader, end) == end)) {
                e.text = Text(at, e.announced);
                entries.push_back(std::move(e));
                at = end;
                continue;
            }
            // Cut: the next record starts inside it, or the log ends inside it.
            const std::size_t next = Next(at + kHeader, std::min(end, size));
            e.kind = LogEntry::Kind::Cut;
            e.text = Text(at, next - at - kHeader);
            e.problem = "record cut after " + std::to_string(next - at - kHeader) + " of " +
                        std::to_string(e.announced) + " bytes";
            entries.push_back(std::move(e));
            at = next;
        }
        return entries;
    }

  private:
    static std::string Hex(unsigned char byte) {
        char text[8];
        std::snprintf(text, sizeof text, "0x%02X", byte);
        return text;
    }

    std::span<const unsigned char> m_bytes;
};

// One line for a text: line ends at its end dropped, those inside and other control bytes
// shown as escapes, so that a log can never steer the terminal.
std::string Printable(const std::string& text) {
    std::string_view view(text);
    while (!view.empty() && (view.back() == '\n' || view.back() == '\r')) {
        view.remove_suffix(1);
    }
    std::string line;
    for (char c : BoardUtf8(view)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            line += "\\\\";
        } else if (c == '\n') {
            line += "\\n";
        } else if (c == '\r') {
            line += "\\r";
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            line += escaped;
        } else {
            line += c;
        }
    }
    return line;
}

} // namespace

std::vector<LogEntry> DecodeCompatLog(std::span<const unsigned char> bytes) {
    return Decoder(bytes).Run();
}

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
    const std::vector<LogEntry> entries = DecodeCompatLog(bytes);
    bool whole = true;
    nlohmann::ordered_json records = nlohmann::ordered_json::array();
    nlohmann::ordered_json problems = nlohmann::ordered_json::array();
    for (const LogEntry& e : entries) {
        if (e.kind == LogEntry::Kind::Record) {
            if (json) {
                records.push_back(
                    {{"offset", e.offset}, {"length", e.announced}, {"text", BoardUtf8(e.text)}});
            } else {
                std::fprintf(out, "%8zu  %s\n", e.offset, Printable(e.text).c_str());
            }
            continue;
        }
        whole = false;
        std::fprintf(err, "zebcli: %s: offset %zu: %s%s%s\n", log.c_str(), e.offset,
                     e.problem.c_str(), e.text.empty() ? "" : ": ",
                     e.text.empty() ? "" : Printable(e.text).c_str());
        if (json) {
            nlohmann::ordered_json p = {{"offset", e.offset}, {"problem", e.problem}};
            if (e.kind == LogEntry::Kind::Cut) {
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
