// Speed of the 8-bit conversion of one 1024-byte chunk, by the per-pair map and by the
// reference search it replaces.
#include <benchmark/benchmark.h>

#include <array>
#include <cstddef>

#include "tables/letter_table.h"
#include "tables/recode.h"

namespace {

using toneshift::letter_table;

// A chunk of VISCII text: letters of the table between runs of ASCII, as in prose.
std::array<unsigned char, 1024> viscii_chunk() {
    std::array<unsigned char, 1024> chunk{};
    const char ascii[] = "ng tr th ch ";
    for (std::size_t i = 0; i < chunk.size(); ++i)
        chunk[i] = i % 3 == 1 ? letter_table[0][(i * 7) % toneshift::kLetterCount]
                              : static_cast<unsigned char>(ascii[i % (sizeof ascii - 1)]);
    return chunk;
}

void BM_RecodeChunkByMap(benchmark::State& state) {
    auto chunk = viscii_chunk();
    for (auto _ : state) {
        toneshift::recode_in_place(chunk.data(), chunk.size(), 0, 3);
        toneshift::recode_in_place(chunk.data(), chunk.size(), 3, 0);
        benchmark::DoNotOptimize(chunk.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * 2 * std::int64_t(chunk.size()));
}
BENCHMARK(BM_RecodeChunkByMap);

void BM_RecodeChunkBySearch(benchmark::State& state) {
    auto chunk = viscii_chunk();
    for (auto _ : state) {
        for (unsigned char& b : chunk) b = toneshift::recode_byte(b, 0, 3);
        for (unsigned char& b : chunk) b = toneshift::recode_byte(b, 3, 0);
        benchmark::DoNotOptimize(chunk.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * 2 * std::int64_t(chunk.size()));
}
BENCHMARK(BM_RecodeChunkBySearch);

}  // namespace
