#include "soak.h"

#include "runner.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <thread>

namespace zebcli {

namespace {

volatile std::sig_atomic_t g_interrupts = 0;
int g_wake[2] = {-1, -1};

void OnInterrupt(int) {
    const int saved = errno;
    g_interrupts = g_interrupts + 1;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_wake[1], &byte, 1);
    errno = saved;
}

} // namespace

std::optional<double> ParseDuration(std::string_view text) {
    double unit = 1;
    if (!text.empty()) {
        switch (text.back()) {
        case 's':
            text.remove_suffix(1);
            break;
        case 'm':
            unit = 60, text.remove_suffix(1);
            break;
        case 'h':
            unit = 3600, text.remove_suffix(1);
            break;
        case 'd':
            unit = 86400, text.remove_suffix(1);
            break;
        default:
            break;
        }
    }
    std::uint64_t count = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || count == 0 ||
        static_cast<double>(count) * unit > kMaxDurationSeconds) {
        return std::nullopt;
    }
    return static_cast<double>(count) * unit;
}

void RunSoak(const Options& options, ConsoleBoard& board, Progress& progress, Recorder& recorder,
             std::vector<RunRecord>& runs, Released* released) {
    const auto start = std::chrono::steady_clock::now();
    const auto over = [&] {
        return options.durationSeconds > 0 &&
               std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >=
                   options.durationSeconds;
    };
    const std::function<bool()> stopping = [&] { return Interrupted() || over(); };
    // With a duration and no --repeat, the sweep goes on until the duration is over.
    const std::uint32_t rounds =
        options.durationSeconds > 0 && !options.repeatGiven ? kMaxRepeat : options.repeat;
    for (std::uint32_t round = 0; round < rounds && !stopping(); ++round) {
        if (!RunFileIoSweep(options, board, progress, recorder, runs, stopping, released)) {
            break;
        }
    }
}

void HandleInterrupts(std::function<void()> first, std::function<void()> second) {
    if (::pipe(g_wake) != 0) {
        return; // Ctrl-C keeps its default: the process ends
    }
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    std::thread([first = std::move(first), second = std::move(second)] {
        int seen = 0;
        char byte = 0;
        while (seen < 2) {
            const ssize_t n = ::read(g_wake[0], &byte, 1);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return;
            }
            ++seen == 1 ? first() : second();
        }
    }).detach();
}

bool Interrupted() {
    return g_interrupts > 0;
}

} // namespace zebcli
