// The byte-pair scan. Every level reads the region as 16-bit lanes, one pair per lane with
// its first byte low: x ^ (x >> 8) then holds the pair's XOR in its low byte, 0xFF for a good
// pair. The vector levels test four vectors at a time; where a group holds a bad pair, the
// word scan takes over from the group's start and finds the first one exactly, so every level
// returns the same offset.
#include "pairscan.h"

#include <cstring>
#include <initializer_list>

#if defined(__x86_64__)
#include <immintrin.h>
#define ZEB_PAIRSCAN_X86 1
#endif

namespace {

// The portable scan, from offset i (even) to end (even): whole 64-bit words while they hold
// only good pairs, then pair by pair.
std::size_t ScanWords(const unsigned char* data, std::size_t i, std::size_t end) {
    constexpr std::uint64_t lanes = 0x00FF00FF00FF00FFull;
    for (; i + 8 <= end; i += 8) {
        std::uint64_t w;
        std::memcpy(&w, data + i, sizeof w);
        if ((((w ^ (w >> 8)) & lanes) ^ lanes) != 0) {
            break;
        }
    }
    for (; i < end; i += 2) {
        if (static_cast<unsigned char>(~data[i]) != data[i + 1]) {
            return i;
        }
    }
    return NO_BAD_PAIR;
}

std::size_t ScanPortable(const unsigned char* data, std::size_t end) {
    return ScanWords(data, 0, end);
}

#ifdef ZEB_PAIRSCAN_X86

// Each vector level: groups of four vectors, then single vectors, then one vector that ends
// at the end (it overlaps pairs already found good, which changes nothing), and the word scan
// where anything was bad or the region is shorter than a vector. The lanes' XORs of a group
// are ANDed before the one test: the low bytes stay 0xFF only when every pair is good.

__attribute__((target("sse2"))) inline __m128i PairXor128(const unsigned char* p) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    return _mm_xor_si128(x, _mm_srli_epi16(x, 8));
}

__attribute__((target("sse2"))) inline bool AllGood128(__m128i pairXor) {
    const __m128i low = _mm_set1_epi16(0x00FF);
    return _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(pairXor, low), low)) == 0xFFFF;
}

__attribute__((target("sse2"))) std::size_t ScanSse2(const unsigned char* data, std::size_t end) {
    constexpr std::size_t w = 16;
    std::size_t i = 0;
    for (; i + 4 * w <= end; i += 4 * w) {
        const __m128i all = _mm_and_si128(
            _mm_and_si128(PairXor128(data + i), PairXor128(data + i + w)),
            _mm_and_si128(PairXor128(data + i + 2 * w), PairXor128(data + i + 3 * w)));
        if (!AllGood128(all)) {
            return ScanWords(data, i, end);
        }
    }
    for (; i + w <= end; i += w) {
        if (!AllGood128(PairXor128(data + i))) {
            return ScanWords(data, i, end);
        }
    }
    if (i < end && end >= w && AllGood128(PairXor128(data + end - w))) {
        return NO_BAD_PAIR;
    }
    return ScanWords(data, i, end);
}

__attribute__((target("avx2"))) inline __m256i PairXor256(const unsigned char* p) {
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    return _mm256_xor_si256(x, _mm256_srli_epi16(x, 8));
}

__attribute__((target("avx2"))) inline bool AllGood256(__m256i pairXor) {
    // Every low byte set: no bit of the mask is missing from pairXor.
    return _mm256_testc_si256(pairXor, _mm256_set1_epi16(0x00FF)) != 0;
}

__attribute__((target("avx2"))) std::size_t ScanAvx2(const unsigned char* data, std::size_t end) {
    constexpr std::size_t w = 32;
    std::size_t i = 0;
    for (; i + 4 * w <= end; i += 4 * w) {
        const __m256i all = _mm256_and_si256(
            _mm256_and_si256(PairXor256(data + i), PairXor256(data + i + w)),
            _mm256_and_si256(PairXor256(data + i + 2 * w), PairXor256(data + i + 3 * w)));
        if (!AllGood256(all)) {
            return ScanWords(data, i, end);
        }
    }
    for (; i + w <= end; i += w) {
        if (!AllGood256(PairXor256(data + i))) {
            return ScanWords(data, i, end);
        }
    }
    if (i < end && end >= w && AllGood256(PairXor256(data + end - w))) {
        return NO_BAD_PAIR;
    }
    return ScanWords(data, i, end);
}

__attribute__((target("avx512bw"))) inline __m512i PairXor512(const unsigned char* p) {
    const __m512i x = _mm512_loadu_si512(p);
    return _mm512_xor_si512(x, _mm512_srli_epi16(x, 8));
}

__attribute__((target("avx512bw"))) inline bool AllGood512(__m512i pairXor) {
    const __m512i low = _mm512_set1_epi16(0x00FF);
    return _mm512_cmpneq_epi16_mask(_mm512_and_si512(pairXor, low), low) == 0;
}

__attribute__((target("avx512bw"))) std::size_t ScanAvx512(const unsigned char* data,
                                                           std::size_t end) {
    constexpr std::size_t w = 64;
    std::size_t i = 0;
    for (; i + 4 * w <= end; i += 4 * w) {
        const __m512i all = _mm512_and_si512(
            _mm512_and_si512(PairXor512(data + i), PairXor512(data + i + w)),
            _mm512_and_si512(PairXor512(data + i + 2 * w), PairXor512(data + i + 3 * w)));
        if (!AllGood512(all)) {
            return ScanWords(data, i, end);
        }
    }
    for (; i + w <= end; i += w) {
        if (!AllGood512(PairXor512(data + i))) {
            return ScanWords(data, i, end);
        }
    }
    if (i < end && end >= w && AllGood512(PairXor512(data + end - w))) {
        return NO_BAD_PAIR;
    }
    return ScanWords(data, i, end);
}

#endif // ZEB_PAIRSCAN_X86

using ScanFn = std::size_t (*)(const unsigned char*, std::size_t);

ScanFn ScanFor(PairScanLevel level) {
    if (!PairScanSupported(level)) {
        return &ScanPortable;
    }
    switch (level) {
#ifdef ZEB_PAIRSCAN_X86
    case PairScanLevel::SSE2:
        return &ScanSse2;
    case PairScanLevel::AVX2:
        return &ScanAvx2;
    case PairScanLevel::AVX512BW:
        return &ScanAvx512;
#endif
    default:
        return &ScanPortable;
    }
}

// The pairs of a region of length bytes end at length rounded up to even.
std::size_t PairsEnd(std::size_t length) {
    return length + (length & 1);
}

} // namespace

bool PairScanSupported(PairScanLevel level) {
    switch (level) {
    case PairScanLevel::PORTABLE:
#ifdef ZEB_PAIRSCAN_X86
    case PairScanLevel::SSE2: // part of every x86-64 processor
#endif
        return true;
#ifdef ZEB_PAIRSCAN_X86
    case PairScanLevel::AVX2:
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2");
    case PairScanLevel::AVX512BW:
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx512bw");
#endif
    default:
        return false;
    }
}

PairScanLevel PairScanBest() {
    static const PairScanLevel best = [] {
        for (PairScanLevel level :
             {PairScanLevel::AVX512BW, PairScanLevel::AVX2, PairScanLevel::SSE2}) {
            if (PairScanSupported(level)) {
                return level;
            }
        }
        return PairScanLevel::PORTABLE;
    }();
    return best;
}

const char* PairScanName(PairScanLevel level) {
    switch (level) {
    case PairScanLevel::PORTABLE:
        return "portable";
    case PairScanLevel::SSE2:
        return "sse2";
    case PairScanLevel::AVX2:
        return "avx2";
    case PairScanLevel::AVX512BW:
        return "avx512bw";
    }
    return "unknown";
}

std::size_t FindBadPair(const unsigned char* data, std::size_t length) {
    static const ScanFn scan = ScanFor(PairScanBest());
    return scan(data, PairsEnd(length));
}

std::size_t FindBadPairWith(PairScanLevel level, const unsigned char* data, std::size_t length) {
    return ScanFor(level)(data, PairsEnd(length));
}
