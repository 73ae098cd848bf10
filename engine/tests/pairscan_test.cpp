// The vector pair scans against a plain pair-by-pair reference: for every instruction set
// this processor offers, the same first bad pair wherever it lies (the start, inside a
// vector or a group of vectors, their edges, the tail behind them, the last pair), for region
// lengths below, at and around every vector and group width, odd ones included. Each region
// is a buffer of exactly the bytes the scan may read, so that a read past them shows under
// AddressSanitizer.

#include <numeric>
#include <set>

#include "engine_test_util.h"
#include "pairscan.h"

namespace {

std::size_t ReferenceScan(const std::vector<unsigned char>& data, std::size_t length) {
    for (std::size_t i = 0; i < length; i += 2) {
        if (static_cast<unsigned char>(~data[i]) != data[i + 1]) {
            return i;
        }
    }
    return NO_BAD_PAIR;
}

std::vector<PairScanLevel> Levels() {
    std::vector<PairScanLevel> levels;
    for (PairScanLevel level : {PairScanLevel::PORTABLE, PairScanLevel::SSE2, PairScanLevel::AVX2,
                                PairScanLevel::AVX512BW}) {
        if (PairScanSupported(level)) {
            levels.push_back(level);
        }
    }
    return levels;
}

// Lengths: every one up to two groups of the widest vectors and a tail, and the block sizes
// the kit moves with their neighbours.
std::vector<std::size_t> Lengths() {
    std::vector<std::size_t> lengths(2 * 256 + 71);
    std::iota(lengths.begin(), lengths.end(), 0);
    lengths.insert(lengths.end(), {1023u, 1024u, 4095u, 4096u, 4097u, 31999u, 32000u, 63999u,
                                   64000u, 64001u, 65533u, 65534u, 65535u});
    return lengths;
}

// Pair offsets to damage in a region ending at end (even): all of them in short regions,
// and in long ones the first pairs, both sides of every 16-, 32-, 64-, 128- and 256-byte
// edge near the start and the end, the middle and the last pairs.
std::set<std::size_t> BadPairs(std::size_t end) {
    std::set<std::size_t> at;
    if (end <= 600) {
        for (std::size_t i = 0; i < end; i += 2) {
            at.insert(i);
        }
        return at;
    }
    at.insert({0, 2, 4, 6});
    for (std::size_t edge : {16u, 32u, 64u, 128u, 256u, 512u}) {
        for (std::size_t base : {edge, end - end % edge, end - edge}) {
            for (std::size_t i : {base - 2, base, base + 2}) {
                if (i < end) {
                    at.insert(i);
                }
            }
        }
    }
    at.insert(end / 2 & ~std::size_t{1});
    at.insert({end - 2, end - 4, end - 6, end - 8});
    return at;
}

TEST(PairScan, EveryLevelFindsTheSameFirstBadPairAsThePlainScan) {
    const std::vector<PairScanLevel> levels = Levels();
    ASSERT_EQ(levels.front(), PairScanLevel::PORTABLE);
    for (std::size_t length : Lengths()) {
        // Good pairs over length bytes rounded up to even, nothing more.
        std::vector<unsigned char> data = zebtest::PairPattern(length + (length & 1));
        const std::size_t end = data.size();
        for (PairScanLevel level : levels) {
            ASSERT_EQ(FindBadPairWith(level, data.data(), length), NO_BAD_PAIR)
                << PairScanName(level) << " length " << length;
        }
        for (std::size_t bad : BadPairs(end)) {
            // A damaged first or second byte, and a later bad pair that must not be the one
            // found.
            for (int side = 0; side < 2; ++side) {
                std::vector<unsigned char> damaged = data;
                damaged[bad + side] ^= side == 0 ? 0x01 : 0x80;
                if (bad + 2 < end) {
                    damaged[end - 1] ^= 0x10;
                }
                const std::size_t expected = ReferenceScan(damaged, length);
                ASSERT_EQ(expected, bad);
                for (PairScanLevel level : levels) {
                    ASSERT_EQ(FindBadPairWith(level, damaged.data(), length), expected)
                        << PairScanName(level) << " length " << length << " bad " << bad;
                }
            }
        }
    }
}

// Only the complement property counts: any pair c, ~c is good, whatever c is.
TEST(PairScan, AnyComplementPairIsGood) {
    std::vector<unsigned char> data(512);
    for (std::size_t i = 0; i < data.size(); i += 2) {
        data[i] = static_cast<unsigned char>(i / 2);
        data[i + 1] = static_cast<unsigned char>(~data[i]);
    }
    std::vector<unsigned char> bad = data;
    bad[300] = bad[301]; // 0x6A 0x6A: equal bytes are no pair
    for (PairScanLevel level : Levels()) {
        EXPECT_EQ(FindBadPairWith(level, data.data(), data.size()), NO_BAD_PAIR)
            << PairScanName(level);
        EXPECT_EQ(FindBadPairWith(level, bad.data(), bad.size()), 300u) << PairScanName(level);
    }
}

// The engine's own scan is the best level the processor offers.
TEST(PairScan, TheEngineUsesTheWidestSupportedLevel) {
    const std::vector<PairScanLevel> levels = Levels();
    EXPECT_EQ(PairScanBest(), levels.back());
    std::vector<unsigned char> data = zebtest::PairPattern(64000);
    data[40001] = 0;
    EXPECT_EQ(FindBadPair(data.data(), data.size()), 40000u);
}

} // namespace
