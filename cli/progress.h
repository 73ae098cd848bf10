// The progress line on a terminal: one line on standard error, rewritten in place a few times
// a second, for a sweep (pass k of n, buffer size, elapsed and estimated remaining time) or a
// session (blocks and bytes per second so far). Off when standard error is not a terminal.
#ifndef ZEBCLI_PROGRESS_H
#define ZEBCLI_PROGRESS_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace zebcli {

// The data size of a "Received block" text of the receiver; nothing for any other text.
std::optional<std::uint64_t> ReceivedBlockBytes(std::string_view text);

// "m:ss", or "h:mm:ss" from an hour on.
std::string Duration(double seconds);

class Progress {
  public:
    using Clock = std::chrono::steady_clock;

    // tty: where the line goes; null switches everything off.
    explicit Progress(std::FILE* tty);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void StartSweep(std::size_t passes);
    void StartPass(std::size_t index, std::uint32_t bufferSize); // index from 0
    void EndPass();
    void StartSession(bool receiving);
    // A text the engine posted: counts the receiver's blocks.
    void Text(std::string_view text);

    // Runs print with the progress line taken off the terminal, then draws it again.
    template <typename Print> void Around(Print&& print) {
        std::lock_guard lock(m_mutex);
        Erase();
        print();
        Draw();
    }

  private:
    void Run();
    void Erase();
    void Draw();
    std::string Line() const;

    std::FILE* m_tty;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    bool m_shown = false;
    enum class Kind { None, Sweep, Send, Receive } m_kind = Kind::None;
    Clock::time_point m_start{};
    std::size_t m_passes = 0;
    std::size_t m_pass = 0;
    std::size_t m_passesDone = 0;
    std::uint32_t m_bufferSize = 0;
    std::uint64_t m_blocks = 0;
    std::uint64_t m_bytes = 0;
    Clock::time_point m_firstBlock{};
    std::thread m_thread;
};

} // namespace zebcli

#endif
