// Times passes of the file I/O stress through the engine's own entry point and prints
// operations per second, one line per pass: "<mode> <buffer> <operations> <seconds> <ops/s>".
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "zebdll.h"

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s TESTFILE MODE BUFFER ITERATIONS\n", argv[0]);
        return 64;
    }
    const char* path = argv[1];
    const int mode = std::atoi(argv[2]);
    const auto buffer = static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10));
    const auto iterations = static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10));
    // Read-and-write modes move two blocks per iteration.
    const bool readWrite = mode == 2 || mode == 5 || mode == 8;
    const double operations = static_cast<double>(iterations) * (readWrite ? 2 : 1);

    PassSaveResult(1);
    SQL_Test(path, buffer, buffer, 1, mode, 1); // prepare the file outside the timing
    const auto start = std::chrono::steady_clock::now();
    SQL_Test(path, buffer, buffer, 1, mode, iterations);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d %u %.0f %.3f %.0f\n", mode, buffer, operations, seconds, operations / seconds);
    return GetRetCode() == ZEB_RESULT_PASSED ? 0 : 1;
}
