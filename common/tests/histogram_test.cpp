// The latency histogram against a sorted copy of the same values: every reported percentile
// within 1/64 of the true one, exact count, minimum and maximum; merging equals the histogram
// of the union; buckets read back are refused when they cannot have been written.
#include "histogram.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace {

using histogram::Histogram;
using Values = std::vector<std::uint64_t>;

Values Constant(std::uint64_t value, int n) {
    return Values(n, value);
}

Values Uniform(std::uint64_t low, std::uint64_t high, int n, unsigned seed) {
    std::mt19937_64 random(seed);
    std::uniform_int_distribution<std::uint64_t> d(low, high);
    Values v;
    for (int i = 0; i < n; ++i)
        v.push_back(d(random));
    return v;
}

Values Exponential(double mean, int n, unsigned seed) {
    std::mt19937_64 random(seed);
    std::exponential_distribution<double> d(1 / mean);
    Values v;
    for (int i = 0; i < n; ++i)
        v.push_back(static_cast<std::uint64_t>(d(random)));
    return v;
}

Values WithOutlier() {
    Values v = Uniform(90'000, 110'000, 9999, 3);
    v.push_back(2'000'000'000); // one stall among quick transfers
    return v;
}

// Both sides of every bucket edge from 60 up to 2^63, and the two ends of the range.
Values Edges() {
    Values v = {0, 1, UINT64_MAX, UINT64_MAX - 1};
    for (std::uint64_t base = 64; base != 0 && base <= (std::uint64_t{1} << 63); base <<= 1)
        for (std::uint64_t step = 0; step < 64; step += 7) {
            const std::uint64_t edge = base + step * (base / 64);
            v.insert(v.end(), {edge - 1, edge, edge + 1});
        }
    return v;
}

struct Set {
    std::string name;
    Values values;
};
// Failures name the set, not its bytes.
void PrintTo(const Set& set, std::ostream* out) {
    *out << set.name;
}

const std::vector<Set> kSets = {
    {"one", {1234567}},
    {"constant", Constant(4096, 1000)},
    {"below64", Uniform(0, 63, 500, 1)},
    {"uniform", Uniform(1'000, 10'000'000, 20'000, 2)},
    {"exponential", Exponential(250'000, 20'000, 4)},
    {"outlier", WithOutlier()},
    {"edges", Edges()},
    {"zeroAndMax", {0, UINT64_MAX, 0, UINT64_MAX, 0}},
};

Histogram Of(const Values& values) {
    Histogram h;
    for (const auto v : values)
        h.Add(v);
    return h;
}

// The nearest rank of a sorted copy.
std::uint64_t Oracle(Values sorted, double percent) {
    std::sort(sorted.begin(), sorted.end());
    auto rank = static_cast<std::size_t>(std::ceil(percent / 100 * sorted.size()));
    rank = std::clamp<std::size_t>(rank, 1, sorted.size());
    return sorted[rank - 1];
}

class HistogramSets : public testing::TestWithParam<Set> {};

TEST_P(HistogramSets, percentilesWithinOneSixtyFourthOfTheSortedValues) {
    const Values& values = GetParam().values;
    const Histogram h = Of(values);
    EXPECT_EQ(h.Count(), values.size());
    EXPECT_EQ(h.Min(), *std::min_element(values.begin(), values.end()));
    EXPECT_EQ(h.Max(), *std::max_element(values.begin(), values.end()));
    long double sum = 0;
    for (const auto v : values)
        sum += v;
    EXPECT_NEAR(h.Mean(), static_cast<double>(sum / values.size()), 1e-9 * h.Mean());
    for (const double p : histogram::kPercentiles) {
        const auto expected = static_cast<double>(Oracle(values, p));
        const auto got = static_cast<double>(h.Percentile(p));
        EXPECT_LE(std::abs(got - expected), expected / 64) << p << "th percentile";
    }
    EXPECT_EQ(h.Percentile(100), h.Max());
}

TEST_P(HistogramSets, mergeEqualsTheHistogramOfTheUnion) {
    const Values& a = GetParam().values;
    const Values b = Exponential(1'000'000, 3000, 9);
    Values both = a;
    both.insert(both.end(), b.begin(), b.end());
    Histogram merged = Of(a);
    merged.Merge(Of(b));
    const Histogram whole = Of(both);
    EXPECT_EQ(merged.Buckets(), whole.Buckets());
    EXPECT_EQ(merged.Count(), whole.Count());
    EXPECT_EQ(merged.Min(), whole.Min());
    EXPECT_EQ(merged.Max(), whole.Max());
    EXPECT_DOUBLE_EQ(merged.Stddev(), whole.Stddev());

    // Read back from what a results file holds, it is the same histogram.
    const auto back = Histogram::FromBuckets(whole.Buckets(), whole.Min(), whole.Max(),
                                             whole.Mean(), whole.Stddev());
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->Buckets(), whole.Buckets());
    for (const double p : histogram::kPercentiles)
        EXPECT_EQ(back->Percentile(p), whole.Percentile(p));
    EXPECT_NEAR(back->Stddev(), whole.Stddev(), 1e-6 * whole.Stddev() + 1e-6);
}

INSTANTIATE_TEST_SUITE_P(Sets, HistogramSets, testing::ValuesIn(kSets),
                         [](const auto& info) { return info.param.name; });

TEST(Histogram, bucketsReadBackThatCannotHaveBeenWrittenAreRefused) {
    const std::uint32_t of1000 = histogram::BucketOf(1000);
    struct Row {
        const char* name;
        std::vector<Histogram::Bucket> buckets;
        std::uint64_t min, max;
    };
    const std::vector<Row> rows = {
        {"index past the end", {{histogram::kBucketCount, 1}}, 0, 0},
        {"index far past the end", {{UINT32_MAX, 1}}, 0, 0},
        {"index twice", {{of1000, 1}, {of1000, 1}}, 1000, 1000},
        {"count of zero", {{of1000, 0}}, 1000, 1000},
        {"counts overflow", {{1, UINT64_MAX}, {of1000, 1}}, 1, 1000},
        {"minimum above maximum", {{of1000, 2}}, 1001, 1000},
        {"minimum below the first bucket", {{of1000, 2}}, 900, 1000},
        {"maximum above the last bucket", {{1, 1}, {of1000, 1}}, 1, 5000},
    };
    for (const auto& row : rows)
        EXPECT_FALSE(Histogram::FromBuckets(row.buckets, row.min, row.max, 1000, 0).has_value())
            << row.name;
    EXPECT_FALSE(Histogram::FromBuckets({{of1000, 1}}, 1000, 1000, NAN, 0).has_value());
    const auto empty = Histogram::FromBuckets({}, 0, 0, 0, 0);
    ASSERT_TRUE(empty.has_value());
    EXPECT_EQ(empty->Count(), 0u);
    EXPECT_EQ(empty->Percentile(99), 0u);
}

} // namespace
