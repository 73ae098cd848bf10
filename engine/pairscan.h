// The byte-pair scan behind the file I/O check and the session receiver's check: a region is
// good when every byte at an odd offset is the bitwise complement of the byte before it. The
// scan runs with the widest vector instructions the processor offers, chosen once at run time,
// and finds the same first bad pair whichever it uses.
#ifndef ZEB_ENGINE_PAIRSCAN_H
#define ZEB_ENGINE_PAIRSCAN_H

#include <cstddef>
#include <cstdint>

// What FindBadPair returns when every pair is good.
constexpr std::size_t NO_BAD_PAIR = SIZE_MAX;

// The instruction sets the scan can run with, narrowest first.
enum class PairScanLevel : int {
    PORTABLE = 0, // 64-bit words, any processor
    SSE2 = 1,
    AVX2 = 2,
    AVX512BW = 3,
};

// The offset of the first byte of the first bad pair among the pairs that start below
// length, or NO_BAD_PAIR. An odd length takes data[length] as the last pair's second byte:
// the caller keeps that byte readable.
std::size_t FindBadPair(const unsigned char* data, std::size_t length);

// The same scan with the given instruction set, which must be supported; for tests and
// benchmarks.
std::size_t FindBadPairWith(PairScanLevel level, const unsigned char* data, std::size_t length);
bool PairScanSupported(PairScanLevel level);
// The level FindBadPair uses on this processor.
PairScanLevel PairScanBest();
const char* PairScanName(PairScanLevel level);

#endif
