// Decoding speed of viqr_step and of viqr_decode_run over VIQR text in the dialogue's
// configuration.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

#include "viqr/decoder/viqr_decoder.h"
#include "viqr_sample_text.h"

namespace toneshift {
namespace {

// The decoder context both benchmarks use, opened once: compose mode, deferred output.
int dialogue_context() {
    static const int ctx = [] {
        const int c = viqr_open(VIQR_MODE_COMPOSE, '\\', 0x08);
        viqr_set(c, 1, VIQR_DEFERRED);
        return c;
    }();
    return ctx;
}

// Drains the context after a pass over the text.
void finish(int ctx, unsigned char* cursor) {
    int count = 0;
    viqr_flush(ctx, cursor, &count);
    cursor += count;
    benchmark::DoNotOptimize(cursor);
    benchmark::ClobberMemory();
}

void BM_ViqrStepDialogueConfiguration(benchmark::State& state) {
    const std::string text = bench::viqr_sample_text(std::size_t{1} << 20);
    const int ctx = dialogue_context();
    std::vector<unsigned char> out(2 * text.size() + 2);
    for (auto _ : state) {
        unsigned char* cursor = out.data();
        for (char ch : text) {
            int count = 0;
            viqr_step(ctx, static_cast<unsigned char>(ch), cursor, &count);
            cursor += count;
        }
        finish(ctx, cursor);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_ViqrStepDialogueConfiguration)->Unit(benchmark::kMillisecond);

// The same text through viqr_decode_run in chunks of the given size (the dialogue reads
// 1 KiB at a time, the converter decodes 4 KiB windows).
void BM_ViqrDecodeRunInChunks(benchmark::State& state) {
    const std::string text = bench::viqr_sample_text(std::size_t{1} << 20);
    const auto chunk = static_cast<std::size_t>(state.range(0));
    const int ctx = dialogue_context();
    std::vector<unsigned char> out(2 * text.size() + 2);
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    for (auto _ : state) {
        unsigned char* cursor = out.data();
        for (std::size_t at = 0; at < text.size(); at += chunk)
            cursor += viqr_decode_run(ctx, in + at, std::min(chunk, text.size() - at), cursor);
        finish(ctx, cursor);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_ViqrDecodeRunInChunks)->Arg(1024)->Arg(4096)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace toneshift
