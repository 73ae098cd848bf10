#include "histogram.h"

#include <algorithm>
#include <cmath>

namespace histogram {

static_assert(kSubBuckets == 64, "BucketOf's shift takes 64 sub-buckets (2^6, plus one)");

std::uint64_t BucketLow(std::uint32_t index) {
    if (index < kSubBuckets)
        return index;
    const unsigned shift = index / kSubBuckets - 1;
    const std::uint64_t m = index % kSubBuckets + kSubBuckets;
    return m << shift;
}

std::uint64_t BucketHigh(std::uint32_t index) {
    if (index < kSubBuckets)
        return index;
    const unsigned shift = index / kSubBuckets - 1;
    return BucketLow(index) + ((std::uint64_t{1} << shift) - 1);
}

void Histogram::Merge(const Histogram& other) {
    for (std::uint32_t i = 0; i < kBucketCount; ++i)
        counts_[i] += other.counts_[i];
    count_ += other.count_;
    sum_ += other.sum_;
    smallSquares_ += other.smallSquares_;
    largeSquares_ += other.largeSquares_;
    min_ = std::min(min_, other.min_);
    max_ = std::max(max_, other.max_);
}

double Histogram::Mean() const {
    if (count_ == 0)
        return 0;
    return static_cast<double>(static_cast<long double>(sum_) / count_);
}

double Histogram::Stddev() const {
    if (count_ == 0)
        return 0;
    const long double mean = static_cast<long double>(sum_) / count_;
    const long double squares = static_cast<long double>(smallSquares_) + largeSquares_;
    const long double variance = squares / count_ - mean * mean;
    return variance > 0 ? static_cast<double>(std::sqrt(variance)) : 0.0;
}

std::uint64_t Histogram::Percentile(double percent) const {
    if (count_ == 0)
        return 0;
    percent = std::clamp(percent, 0.0, 100.0);
    // The nearest rank: the smallest value with at least percent of the values at or below.
    auto rank =
        static_cast<std::uint64_t>(std::ceil(percent / 100.0 * static_cast<double>(count_)));
    rank = std::clamp<std::uint64_t>(rank, 1, count_);
    // The first and last ranks are known exactly.
    if (rank == 1)
        return min_;
    if (rank == count_)
        return max_;
    std::uint64_t seen = 0;
    for (std::uint32_t i = 0; i < kBucketCount; ++i) {
        seen += counts_[i];
        if (seen >= rank) {
            // The middle of the bucket halves the error of either edge.
            const std::uint64_t low = BucketLow(i);
            const std::uint64_t middle = low + (BucketHigh(i) - low) / 2;
            return std::clamp(middle, min_, max_);
        }
    }
    return max_;
}

std::vector<Histogram::Bucket> Histogram::Buckets() const {
    std::vector<Bucket> buckets;
    for (std::uint32_t i = 0; i < kBucketCount; ++i)
        if (counts_[i] != 0)
            buckets.emplace_back(i, counts_[i]);
    return buckets;
}

std::optional<Histogram> Histogram::FromBuckets(const std::vector<Bucket>& buckets,
                                                std::uint64_t min, std::uint64_t max, double mean,
                                                double stddev) {
    Histogram h;
    std::uint32_t first = kBucketCount;
    std::uint32_t last = 0;
    for (const auto& [index, count] : buckets) {
        if (index >= kBucketCount || count == 0 || h.counts_[index] != 0 ||
            h.count_ > UINT64_MAX - count)
            return std::nullopt;
        h.counts_[index] = count;
        h.count_ += count;
        first = std::min(first, index);
        last = std::max(last, index);
    }
    if (h.count_ == 0)
        return buckets.empty() ? std::optional<Histogram>(h) : std::nullopt;
    if (min > max || BucketOf(min) != first || BucketOf(max) != last)
        return std::nullopt;
    if (!std::isfinite(mean) || !std::isfinite(stddev) || mean < 0 || stddev < 0)
        return std::nullopt;
    h.min_ = min;
    h.max_ = max;
    const long double n = static_cast<long double>(h.count_);
    const long double m = std::clamp<long double>(mean, min, max);
    h.sum_ = static_cast<unsigned __int128>(m * n + 0.5L);
    h.largeSquares_ = (static_cast<long double>(stddev) * stddev + m * m) * n;
    return h;
}

} // namespace histogram
