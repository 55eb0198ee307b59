// CRC-32 throughput over 64 MiB: the image CRC against zlib's crc32 (the same polynomial;
// zlib returns the complemented register, which costs nothing to compare).
#include "bench/ratio.h"
#include "image/format.h"

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <random>
#include <vector>

namespace {

const std::vector<uint8_t> &buffer()
{
    static const std::vector<uint8_t> data = [] {
        std::vector<uint8_t> v(64u << 20);
        std::mt19937 rng(42);
        for (auto &b : v)
            b = static_cast<uint8_t>(rng());
        return v;
    }();
    return data;
}

void BM_crc32_ours(benchmark::State &state)
{
    const auto &data = buffer();
    for (auto _ : state)
        benchmark::DoNotOptimize(image_crc32(data.data(), data.size(), 0xFFFFFFFFu));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}

void BM_crc32_zlib(benchmark::State &state)
{
    const auto &data = buffer();
    for (auto _ : state)
        benchmark::DoNotOptimize(crc32(0, data.data(), static_cast<uInt>(data.size())));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}

// The two agree (complemented), so the comparison is between equal results.
[[maybe_unused]] const bool agree = [] {
    const auto &data = buffer();
    return ~image_crc32(data.data(), 4096, 0xFFFFFFFFu) == crc32(0, data.data(), 4096);
}();

} // namespace

BENCHMARK(BM_crc32_ours)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(BM_crc32_zlib)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCH_RATIO(crc32_vs_zlib, "BM_crc32_ours", "BM_crc32_zlib");
