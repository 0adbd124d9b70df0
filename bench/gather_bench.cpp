// Why the CPU pass's kernels read texels with plain loads: eight 32-bit
// values from a table in the first-level cache, by one AVX2 gather against
// eight loads put into a vector. On machines whose microcode guards against
// data sampling through gathers, the gather takes several times as long.
#include <benchmark/benchmark.h>
#include <immintrin.h>

#include <cstdint>
#include <vector>

namespace {

constexpr int kTable = 4096, kIndices = 1 << 14;

struct Data {
    std::vector<int32_t> table, indices;
    Data() : table(kTable), indices(kIndices) {
        uint32_t seed = 1;
        for (int i = 0; i < kTable; ++i)
            table[i] = i * 7;
        for (int32_t& index : indices) {
            seed = seed * 1664525u + 1013904223u;
            index = static_cast<int32_t>(seed >> 12) & (kTable - 1);
        }
    }
};

__attribute__((target("avx2"))) void BM_Gather(benchmark::State& state) {
    static const Data data;
    __m256i sum = _mm256_setzero_si256();
    for (auto _ : state) {
        for (int i = 0; i < kIndices; i += 8) {
            const __m256i at = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(&data.indices[i]));
            sum = _mm256_add_epi32(sum, _mm256_i32gather_epi32(data.table.data(), at, 4));
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kIndices / 8);
}

__attribute__((target("avx2"))) void BM_PlainLoads(benchmark::State& state) {
    static const Data data;
    __m256i sum = _mm256_setzero_si256();
    const int32_t* t = data.table.data();
    for (auto _ : state) {
        for (int i = 0; i < kIndices; i += 8) {
            const int32_t* at = &data.indices[i];
            sum = _mm256_add_epi32(sum, _mm256_setr_epi32(t[at[0]], t[at[1]], t[at[2]], t[at[3]], t[at[4]],
                                                          t[at[5]], t[at[6]], t[at[7]]));
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kIndices / 8);
}

}  // namespace

BENCHMARK(BM_Gather);
BENCHMARK(BM_PlainLoads);
BENCHMARK_MAIN();
