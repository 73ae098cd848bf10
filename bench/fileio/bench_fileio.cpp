// Times a pass of the file I/O stress through the engine's own entry point for about the
// given number of seconds and prints operations per second:
//   "<mode> <buffer> <operations> <seconds> <ops/s>"
// The test file is prepared by a first pass of one iteration, outside the timing; short
// passes then find how many iterations fill the time, and one pass of that many is timed.
// With ITERATIONS given, one pass of exactly that many is timed instead (for profiling with
// callgrind, where the time means nothing). The timed pass includes what the engine does around the
// loop: its check of the test file before the pass, and after a pass that wrote, of the whole file
// (about 1 MB each).
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "zebdll.h"

namespace {

double TimedPass(const char* path, unsigned buffer, int mode, unsigned iterations) {
    const auto start = std::chrono::steady_clock::now();
    SQL_Test(path, buffer, buffer, 1, mode, iterations);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr, "usage: %s TESTFILE MODE BUFFER SECONDS [ITERATIONS]\n", argv[0]);
        return 64;
    }
    const char* path = argv[1];
    const int mode = std::atoi(argv[2]);
    const auto buffer = static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10));
    const double wanted = std::strtod(argv[4], nullptr);
    if (mode < 0 || mode > 8 || buffer < 2 || !(wanted > 0 && wanted <= 600)) {
        std::fprintf(stderr, "MODE 0..8, BUFFER at least 2, SECONDS above 0 up to 600\n");
        return 64;
    }
    // Read-and-write modes move two blocks per iteration.
    const bool readWrite = mode == 2 || mode == 5 || mode == 8;

    PassSaveResult(1); // as the dialog starts: "Save Results?" checked
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

    const double operations = static_cast<double>(iterations) * (readWrite ? 2 : 1);
    std::printf("%d %u %.0f %.3f %.0f\n", mode, buffer, operations, seconds, operations / seconds);
    return GetRetCode() == ZEB_RESULT_PASSED ? 0 : 1;
}
