// The progress line on a terminal: one line on standard error, rewritten in place a few times
// a second and taken off around every line printed, for a sweep (pass k of n, buffer size, the
// pass's operations, MB/s and p99 so far, elapsed and estimated remaining time) or a session
// (blocks and bytes per second so far). Off when standard error is not a terminal.
#ifndef ZEBCLI_PROGRESS_H
#define ZEBCLI_PROGRESS_H

#include "recorder.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace zebcli {

// The data size of a "Received block" text of the receiver; nothing for any other text.
std::optional<std::uint64_t> ReceivedBlockBytes(std::string_view text);

// "m:ss", or "h:mm:ss" from an hour on.
std::string Duration(double seconds);

using LiveSource = std::function<LiveFigures()>;

// The sweep's part of the line: "pass k of n, buffer B: ..." for the figures of the pass,
// the time elapsed and, when it can be told, the time remaining. operationsPerPass: what one
// pass makes (0: not known).
std::string SweepLine(std::size_t pass, std::size_t passes, std::uint32_t bufferSize,
                      const LiveFigures& live, std::uint64_t operationsPerPass,
                      std::size_t passesDone, double elapsed, double passElapsed);

class Progress {
  public:
    using Clock = std::chrono::steady_clock;

    // tty: where the line goes; null switches everything off.
    explicit Progress(std::FILE* tty);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // live: the figures of the pass in progress, read a few times a second from the
    // drawing thread (may be empty).
    void StartSweep(std::size_t passes, std::uint64_t operationsPerPass = 0, LiveSource live = {});
    void StartPass(std::size_t index, std::uint32_t bufferSize); // index from 0
    void EndPass();
    void StartSession(bool receiving);
    // A text the engine posted: counts the receiver's blocks.
    void Text(std::string_view text);

    // Takes the line off for good (the process is about to end).
    void Stop();

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
    bool m_held = false;
    enum class Kind { None, Sweep, Send, Receive } m_kind = Kind::None;
    Clock::time_point m_start{};
    std::size_t m_passes = 0;
    std::size_t m_pass = 0;
    std::size_t m_passesDone = 0;
    std::uint32_t m_bufferSize = 0;
    std::uint64_t m_operationsPerPass = 0;
    LiveSource m_live;
    Clock::time_point m_passStart{};
    std::uint64_t m_blocks = 0;
    std::uint64_t m_bytes = 0;
    Clock::time_point m_firstBlock{};
    std::thread m_thread;
};

} // namespace zebcli

#endif
