#include "progress.h"

#include "zebtexts.h"

#include <algorithm>
#include <charconv>
#include <utility>

namespace zebcli {

namespace {

constexpr auto kRedraw = std::chrono::milliseconds(250);

double Seconds(Progress::Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

} // namespace

std::optional<std::uint64_t> ReceivedBlockBytes(std::string_view text) {
    // "Received block %3u Size = %d Bytes", or "Size = 64K Bytes" for a full block.
    constexpr std::string_view kHead = "Received block ";
    constexpr std::string_view kSize = " Size = ";
    if (!text.starts_with(kHead)) {
        return std::nullopt;
    }
    const std::size_t at = text.find(kSize);
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view size = text.substr(at + kSize.size());
    if (size.starts_with("64K ")) {
        return 64000;
    }
    std::uint64_t bytes = 0;
    const auto [end, error] = std::from_chars(size.data(), size.data() + size.size(), bytes);
    if (error != std::errc() || end == size.data()) {
        return std::nullopt;
    }
    return bytes;
}

std::string Duration(double seconds) {
    const auto total = static_cast<long long>(seconds < 0 ? 0 : seconds + 0.5);
    char text[32];
    if (total >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                      total % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
    }
    return text;
}

Progress::Progress(std::FILE* tty) : m_tty(tty) {
    if (m_tty != nullptr) {
        m_thread = std::thread([this] { Run(); });
    }
}

Progress::~Progress() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        Erase();
    }
    m_wake.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

std::string SweepLine(std::size_t pass, std::size_t passes, std::uint32_t bufferSize,
                      const LiveFigures& live, std::uint64_t operationsPerPass,
                      std::size_t passesDone, double elapsed, double passElapsed) {
    char text[200];
    std::string line;
    std::snprintf(text, sizeof text, "pass %zu of %zu, buffer %u: %llu ops", pass + 1, passes,
                  bufferSize, static_cast<unsigned long long>(live.operations));
    line = text;
    if (live.seconds > 0) {
        std::snprintf(text, sizeof text, ", %.2f MB/s",
                      static_cast<double>(live.bytes) / live.seconds / 1e6);
        line += text;
    }
    if (live.p99Ns > 0) {
        std::snprintf(text, sizeof text, ", p99 %.3f ms", static_cast<double>(live.p99Ns) / 1e6);
        line += text;
    }
    if (live.failures > 0) {
        std::snprintf(text, sizeof text, ", %llu failed",
                      static_cast<unsigned long long>(live.failures));
        line += text;
    }
    line += "; " + Duration(elapsed) + " elapsed";
    // The passes so far, at their average length, stand for those still to come; within the
    // first pass, the share of its operations made so far tells its length.
    double total = 0;
    if (passesDone > 0) {
        total = elapsed / static_cast<double>(passesDone) * static_cast<double>(passes);
    } else if (operationsPerPass > 0 && live.operations > 0 && passElapsed > 0) {
        const double share = std::min(1.0, static_cast<double>(live.operations) /
                                               static_cast<double>(operationsPerPass));
        total = passElapsed / share * static_cast<double>(passes);
    }
    if (total > 0) {
        line += ", ~" + Duration(total - elapsed) + " remaining";
    }
    return line;
}

void Progress::Stop() {
    std::lock_guard lock(m_mutex);
    Erase();
    m_stop = true;
}

void Progress::StartSweep(std::size_t passes, std::uint64_t operationsPerPass, LiveSource live) {
    std::lock_guard lock(m_mutex);
    m_kind = Kind::Sweep;
    m_passes = passes;
    m_operationsPerPass = operationsPerPass;
    m_live = std::move(live);
    m_passesDone = 0;
    m_start = Clock::now();
}

void Progress::StartPass(std::size_t index, std::uint32_t bufferSize) {
    std::lock_guard lock(m_mutex);
    m_pass = index;
    m_bufferSize = bufferSize;
    m_passStart = Clock::now();
    Draw();
}

void Progress::EndPass() {
    std::lock_guard lock(m_mutex);
    ++m_passesDone;
}

void Progress::StartSession(bool receiving) {
    std::lock_guard lock(m_mutex);
    m_kind = receiving ? Kind::Receive : Kind::Send;
    m_start = Clock::now();
    m_blocks = 0;
    m_bytes = 0;
    Draw();
}

void Progress::Text(std::string_view text) {
    if (m_tty == nullptr) {
        return;
    }
    {
        // The engine's next line after this one goes to standard output past the board: the
        // progress line stays off until the engine posts again.
        std::lock_guard lock(m_mutex);
        m_held = text == zebtext::kCreatingTestFile;
    }
    if (const std::optional<std::uint64_t> bytes = ReceivedBlockBytes(text)) {
        std::lock_guard lock(m_mutex);
        if (m_blocks == 0) {
            m_firstBlock = Clock::now();
        }
        ++m_blocks;
        m_bytes += *bytes;
    }
}

void Progress::Run() {
    std::unique_lock lock(m_mutex);
    while (!m_stop) {
        m_wake.wait_for(lock, kRedraw);
        if (!m_stop) {
            Draw();
        }
    }
}

// Called with m_mutex held.
void Progress::Erase() {
    if (m_tty != nullptr && m_shown) {
        std::fputs("\r\033[K", m_tty);
        std::fflush(m_tty);
        m_shown = false;
    }
}

// Called with m_mutex held.
void Progress::Draw() {
    if (m_tty == nullptr || m_stop || m_held || m_kind == Kind::None) {
        return;
    }
    const std::string line = Line();
    std::fprintf(m_tty, "\r\033[K%s", line.c_str());
    std::fflush(m_tty);
    m_shown = true;
}

std::string Progress::Line() const {
    const Clock::time_point now = Clock::now();
    const double elapsed = Seconds(now - m_start);
    char line[160];
    switch (m_kind) {
    case Kind::Sweep:
        return SweepLine(m_pass, m_passes, m_bufferSize, m_live ? m_live() : LiveFigures{},
                         m_operationsPerPass, m_passesDone, elapsed, Seconds(now - m_passStart));
    case Kind::Receive: {
        const double since = m_blocks > 0 ? Seconds(now - m_firstBlock) : 0.0;
        const double rate = since > 0 ? static_cast<double>(m_bytes) / since : 0.0;
        std::snprintf(line, sizeof line, "%llu blocks, %llu bytes, %.1f MB/s: %s elapsed",
                      static_cast<unsigned long long>(m_blocks),
                      static_cast<unsigned long long>(m_bytes), rate / 1e6,
                      Duration(elapsed).c_str());
        break;
    }
    case Kind::Send:
        std::snprintf(line, sizeof line, "sending: %s elapsed", Duration(elapsed).c_str());
        break;
    case Kind::None:
        line[0] = '\0';
        break;
    }
    return line;
}

} // namespace zebcli
