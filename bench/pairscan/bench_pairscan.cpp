// The byte-pair scan alone over a good region, at every instruction set this processor
// offers, for the block sizes the kit moves: 4096 and 32000 (file I/O), 64000 (a session
// block) and 65534 (a chunk of the test file's check). The engine's own choice runs as "best".
//   bench_pairscan [Google Benchmark options, e.g. --benchmark_repetitions=3]
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "pairscan.h"

namespace {

std::vector<unsigned char> GoodPairs(std::size_t length) {
    std::vector<unsigned char> data(length + 1);
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        data[i] = static_cast<unsigned char>(32 + (i / 2) % 200);
        data[i + 1] = static_cast<unsigned char>(~data[i]);
    }
    return data;
}

void Scan(benchmark::State& state, int level) {
    const auto length = static_cast<std::size_t>(state.range(0));
    const std::vector<unsigned char> data = GoodPairs(length);
    for (auto _ : state) {
        const std::size_t bad =
            level < 0 ? FindBadPair(data.data(), length)
                      : FindBadPairWith(static_cast<PairScanLevel>(level), data.data(), length);
        benchmark::DoNotOptimize(bad);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * length));
}

int Register() {
    const std::string best = std::string("best_") + PairScanName(PairScanBest());
    benchmark::RegisterBenchmark(best.c_str(), Scan, -1)
        ->Arg(4096)
        ->Arg(32000)
        ->Arg(64000)
        ->Arg(65534);
    for (PairScanLevel level : {PairScanLevel::PORTABLE, PairScanLevel::SSE2, PairScanLevel::AVX2,
                                PairScanLevel::AVX512BW}) {
        if (PairScanSupported(level)) {
            benchmark::RegisterBenchmark(PairScanName(level), Scan, static_cast<int>(level))
                ->Arg(4096)
                ->Arg(32000)
                ->Arg(64000)
                ->Arg(65534);
        }
    }
    return 0;
}

[[maybe_unused]] const int registered = Register();

} // namespace

BENCHMARK_MAIN();
