// Times a pass of the file I/O stress through the engine's own entry point for about the
// given number of seconds and prints operations per second:
//   "<mode> <buffer> <operations> <seconds> <ops/s>"
// The test file is prepared by a first pass of one iteration, outside the timing; short
// passes then find how many iterations fill the time, and one pass of that many is timed.
// With ITERATIONS given, one pass of exactly that many is timed instead (for profiling with
// callgrind, where the time means nothing). The timed pass includes what the engine does
// around the loop: its check of the test file before the pass, and after a pass that wrote,
// of the whole file (about 1 MB each).
// With --observe, an event observer is set for every pass and records each transfer's
// duration as zebcli's recorder does: a log-linear histogram of nanoseconds (64 buckets per
// power of two) with count, sum, sum of squares, minimum and maximum. The timed pass fails
// (exit 1) unless the observer saw every transfer the pass made.
//   bench_fileio [--observe] TESTFILE MODE BUFFER SECONDS [ITERATIONS]
//   bench_fileio --clock      prints the name of the events' clock (EventClockName)
#include <array>
#include <bit>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "modes.h"
#include "zebdll.h"

namespace {

// The work of zebcli's recorder for each transfer, without its output.
class Recording {
  public:
    static void Observe(void* context, const ZebEvent* event) {
        if (event->kind == ZEB_EVENT_READ || event->kind == ZEB_EVENT_WRITE) {
            static_cast<Recording*>(context)->Add(event->duration_ns);
        }
    }
    void Add(std::uint64_t value) {
        ++buckets_[BucketOf(value)];
        ++count_;
        sum_ += value;
        const auto v = static_cast<long double>(value);
        sumSquares_ += v * v;
        min_ = value < min_ ? value : min_;
        max_ = value > max_ ? value : max_;
    }
    std::uint64_t Count() const { return count_; }
    void Clear() { *this = Recording(); }

  private:
    static constexpr unsigned kSubBuckets = 64;
    static std::uint32_t BucketOf(std::uint64_t value) {
        if (value < kSubBuckets) {
            return static_cast<std::uint32_t>(value);
        }
        const int power = 63 - std::countl_zero(value); // 6..63
        const auto sub = static_cast<std::uint32_t>((value >> (power - 6)) & (kSubBuckets - 1));
        return static_cast<std::uint32_t>(power - 5) * kSubBuckets + sub;
    }
    std::array<std::uint64_t, kSubBuckets * 59> buckets_{};
    std::uint64_t count_ = 0;
    unsigned __int128 sum_ = 0;
    long double sumSquares_ = 0;
    std::uint64_t min_ = UINT64_MAX;
    std::uint64_t max_ = 0;
};

Recording Recorded;

double TimedPass(const char* path, unsigned buffer, int mode, unsigned iterations) {
    Recorded.Clear();
    const auto start = std::chrono::steady_clock::now();
    SQL_Test(path, buffer, buffer, 1, mode, iterations);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--clock") == 0) {
        std::puts(EventClockName());
        return 0;
    }
    const bool observe = argc > 1 && std::strcmp(argv[1], "--observe") == 0;
    if (observe) {
        --argc;
        ++argv;
    }
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr,
                     "usage: bench_fileio [--observe] TESTFILE MODE BUFFER SECONDS [ITERATIONS]\n");
        return 64;
    }
    const char* path = argv[1];
    const int mode = std::atoi(argv[2]);
    const auto buffer = static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10));
    const double wanted = std::strtod(argv[4], nullptr);
    const std::optional<modes::AccessMode> access = modes::AccessModeOf(mode);
    if (!access || buffer < 2 || !(wanted > 0 && wanted <= 600)) {
        std::fprintf(stderr, "MODE 0..8, BUFFER at least 2, SECONDS above 0 up to 600\n");
        return 64;
    }

    PassSaveResult(1); // as the dialog starts: "Save Results?" checked
    if (observe) {
        SetEventObserver(&Recording::Observe, &Recorded);
    }
    SQL_Test(path, buffer, buffer, 1, mode, 1);
    unsigned iterations = argc == 6 ? static_cast<unsigned>(std::strtoul(argv[5], nullptr, 10)) : 0;
    if (iterations == 0) {
        iterations = 1000;
        double seconds = TimedPass(path, buffer, mode, iterations);
        while (seconds < wanted / 10 && iterations < (1u << 28)) {
            iterations *= 4;
            seconds = TimedPass(path, buffer, mode, iterations);
        }
        const double target = iterations / seconds * wanted;
        iterations = target < 4e9 ? static_cast<unsigned>(target) + 1 : 4000000000u;
    }
    const double seconds = TimedPass(path, buffer, mode, iterations);

    const std::uint64_t transfers =
        static_cast<std::uint64_t>(iterations) * modes::TransfersPerIteration(*access);
    const auto operations = static_cast<double>(transfers);
    std::printf("%d %u %.0f %.3f %.0f\n", mode, buffer, operations, seconds, operations / seconds);
    if (observe && Recorded.Count() != transfers) {
        std::fprintf(stderr, "the observer saw %llu of %llu transfers\n",
                     static_cast<unsigned long long>(Recorded.Count()),
                     static_cast<unsigned long long>(transfers));
        return 1;
    }
    return GetRetCode() == ZEB_RESULT_PASSED ? 0 : 1;
}
