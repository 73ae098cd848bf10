// The latency histogram zebcli keeps per pass, per session and per interval: log-linear over
// nanoseconds. Values below 64 have a bucket each; above that every power of two is cut into
// 64 equal buckets, so a bucket's width is at most 1/64 of the values in it. Minimum and
// maximum are exact, mean and standard deviation come from exact sums, and two histograms
// merge by adding their buckets (the buckets written to a results file merge the same way).
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace histogram {

// Buckets per power of two, and the values below which each value has its own bucket.
inline constexpr unsigned kSubBuckets = 64;
// 64 exact buckets, then 64 for each of the powers 2^6 to 2^63.
inline constexpr std::uint32_t kBucketCount = kSubBuckets + (64 - 6) * kSubBuckets;

// The percentiles the results report, in this order.
inline constexpr double kPercentiles[] = {1, 5, 10, 50, 90, 95, 99, 99.9, 99.99};

// The bucket a value falls into (inline: once per transfer), and the smallest and largest
// value of a bucket.
inline std::uint32_t BucketOf(std::uint64_t value) {
    if (value < kSubBuckets) {
        return static_cast<std::uint32_t>(value);
    }
    // value = m << shift with m in [64, 128): the buckets of 2^e follow those of 2^(e-1).
    const unsigned shift = static_cast<unsigned>(std::bit_width(value)) - 7;
    return static_cast<std::uint32_t>(shift * kSubBuckets + (value >> shift));
}
std::uint64_t BucketLow(std::uint32_t index);
std::uint64_t BucketHigh(std::uint32_t index);

class Histogram {
  public:
    using Bucket = std::pair<std::uint32_t, std::uint64_t>; // index, count

    // Cheap and allocation-free: it runs once per transfer.
    void Add(std::uint64_t value) {
        ++counts_[BucketOf(value)];
        ++count_;
        sum_ += value;
        // Exact in integers for every duration below 4.3 s (one multiply and an add); the
        // rare longer ones in long double, which is slow.
        if (value < kSmall) {
            smallSquares_ += static_cast<unsigned __int128>(value * value);
        } else {
            const auto v = static_cast<long double>(value);
            largeSquares_ += v * v;
        }
        if (value < min_)
            min_ = value;
        if (value > max_)
            max_ = value;
    }
    void Merge(const Histogram& other);
    // Back to empty.
    void Clear() { *this = Histogram(); }

    std::uint64_t Count() const { return count_; }
    // 0 when empty.
    std::uint64_t Min() const { return count_ == 0 ? 0 : min_; }
    std::uint64_t Max() const { return max_; }
    double Mean() const;
    // The population standard deviation; 0 when empty.
    double Stddev() const;
    // The value at or below which percent of the values lie (the nearest rank), within the
    // bucket's width and clamped to [Min, Max]; 0 < percent <= 100 (others are clamped too).
    // 0 when empty.
    std::uint64_t Percentile(double percent) const;
    // The non-empty buckets in index order.
    std::vector<Bucket> Buckets() const;

    // A histogram read back from its buckets, exact minimum and maximum, mean and standard
    // deviation. Nothing when the parts do not fit together: an index out of range or twice,
    // a count of 0, counts that overflow, a minimum or maximum outside the first or last
    // bucket.
    static std::optional<Histogram> FromBuckets(const std::vector<Bucket>& buckets,
                                                std::uint64_t min, std::uint64_t max, double mean,
                                                double stddev);

  private:
    std::array<std::uint64_t, kBucketCount> counts_{};
    std::uint64_t count_ = 0;
    static constexpr std::uint64_t kSmall = std::uint64_t{1} << 32;
    unsigned __int128 sum_ = 0;
    unsigned __int128 smallSquares_ = 0; // of the values below kSmall
    long double largeSquares_ = 0;       // of the others
    std::uint64_t min_ = UINT64_MAX;
    std::uint64_t max_ = 0;
};

} // namespace histogram
