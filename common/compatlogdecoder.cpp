#include "compatlogdecoder.h"

#include <algorithm>
#include <cstdio>

namespace compatlog {

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

    std::vector<Entry> Run() const {
        std::vector<Entry> entries;
        const std::size_t size = m_bytes.size();
        std::size_t at = 0;
        while (at < size) {
            Entry e;
            e.offset = at;
            if (size - at < kHeader || m_bytes[at] != kRecordType || Length(at) == 0) {
                const std::size_t next = Next(at + 1, size);
                e.kind = Entry::Kind::Damaged;
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
            e.kind = Entry::Kind::Cut;
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

} // namespace

std::vector<Entry> Decode(std::span<const unsigned char> bytes) {
    return Decoder(bytes).Run();
}

} // namespace compatlog
