// Decoding speed of viqr_step over VIQR text in the dialogue's configuration.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "viqr/decoder/viqr_decoder.h"
#include "viqr_sample_text.h"

namespace toneshift {
namespace {

void BM_ViqrStepDialogueConfiguration(benchmark::State& state) {
    const std::string text = bench::viqr_sample_text(std::size_t{1} << 20);
    static const int ctx = [] {
        const int c = viqr_open(VIQR_MODE_COMPOSE, '\\', 0x08);
        viqr_set(c, 1, VIQR_DEFERRED);
        return c;
    }();
    std::vector<unsigned char> out(2 * text.size() + 2);
    for (auto _ : state) {
        unsigned char* cursor = out.data();
        for (char ch : text) {
            int count = 0;
            viqr_step(ctx, static_cast<unsigned char>(ch), cursor, &count);
            cursor += count;
        }
        int count = 0;
        viqr_flush(ctx, cursor, &count);
        cursor += count;
        benchmark::DoNotOptimize(cursor);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_ViqrStepDialogueConfiguration)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace toneshift
