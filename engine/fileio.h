// The file I/O stress: one pass of SQL_Test over a test file of byte pairs, in one of nine
// access patterns, checking every block read and, after a pass that wrote, the whole file.
#ifndef ZEB_ENGINE_FILEIO_H
#define ZEB_ENGINE_FILEIO_H

#include <cstdint>

enum IoMode : int {
    SEQUENTIAL_READ = 0,
    SEQUENTIAL_WRITE = 1,
    SEQUENTIAL_RW = 2,
    RANDOM_READ = 3,
    RANDOM_WRITE = 4,
    RANDOM_RW = 5,
    OVERLAY_READ = 6,
    OVERLAY_WRITE = 7,
    OVERLAY_RW = 8,
};

enum IoErrorKind : int {
    BYTES_DO_NOT_MISMATCH = 0,
    READ_ERROR = 1,
    WRITE_ERROR = 2,
    VERIFY_ERROR = 3,
};

constexpr unsigned CREATION_CHUNK = 65534;
constexpr unsigned CREATION_CHUNKS = 16;
constexpr unsigned TEST_FILE_SIZE = CREATION_CHUNK * CREATION_CHUNKS; // 1,048,544
constexpr unsigned TEST_REGION = 0xFFFC0;                             // 1,048,512
constexpr unsigned OVERLAY_POSITION = 0x7FFE0;                        // 524,256
constexpr unsigned MAX_BUFFER = 65534;

// Pair i of the first size bytes of PatternBuffer: 32 + i mod 200, then its complement;
// a zero byte follows the pairs.
void FillPairPattern(unsigned size);
// 0 when every pair in the first size bytes of PatternBuffer is good, else the index of the
// first byte of the first bad pair plus one (reported as BYTES_DO_NOT_MISMATCH).
unsigned CheckPairs(unsigned size);
// Posts "<label> <detail>\n" as a failure and marks the pass failed.
void ReportIoError(int kind, const char* detail);
// Creates the test file, or checks an existing one and rebuilds it when corrupt.
int PrepareTestFile(const char* path);
// 0 when the whole file is good, -1 when its size is wrong, else where it went bad plus one.
int VerifyTestFile(const char* path);

// The random generator of the random modes: 15-bit draws from a 32-bit linear congruence.
void SeedRandom(std::uint32_t seed);
unsigned DrawRandom();

#endif
