// Speed of the VIQR encoder on Vietnamese text in VISCII, in chunks of 1023 bytes as the
// pipeline to VIQR hands them over.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tables/letter_names.h"
#include "tables/letter_table.h"
#include "vietnamese_corpus.h"
#include "viqr/encoder/viqr_encoder.h"

namespace toneshift {
namespace {

// Written in VIQR; "\\" keeps a dot or hook after a vowel from being read as its tone.
constexpr std::string_view kSentences[] = {
    "Vie^.t Nam la` mo^.t quo^'c gia na(`m o+? phi'a ddo^ng ba'n dda?o DDo^ng Du+o+ng. ",
    "Thu? ddo^ cu?a Vie^.t Nam la` Ha` No^.i, tha`nh pho^' lo+'n nha^'t la` tha`nh pho^' Ho^` "
    "Chi' Minh. ",
    "Tie^'ng Vie^.t co' sa'u thanh ddie^.u va` ddu+o+.c vie^'t ba(`ng chu+~ Quo^'c ngu+~ tu+` "
    "the^' ky? thu+' mu+o+`i ba?y\\. ",
    "Mu`a xua^n, hoa dda`o no+? kha('p ca'c con ddu+o+`ng cu?a thu? ddo^\\. ",
    "Ngu+o+`i ta tho+`ng no'i: ho.c, ho.c nu+~a, ho.c ma~i\\.\n",
    "Ba'c si~ khuye^n ba^.n ne^n a(n nhie^`u rau xanh va` uo^'ng ddu? nu+o+'c mo^~i nga`y\\.\n",
};

// VIQR to VISCII for the sample: the longest VIQR name at each place becomes its letter
// byte, "\\" passes the next character as it stands, anything else is copied.
std::string viscii_from_viqr(std::string_view viqr) {
    std::string viscii;
    for (std::size_t i = 0; i < viqr.size();) {
        if (viqr[i] == '\\' && i + 1 < viqr.size()) {
            viscii += viqr[i + 1];
            i += 2;
            continue;
        }
        std::size_t best = 0, best_length = 0;
        for (std::size_t p = 0; p < kLetterCount; ++p) {
            const std::string_view name(letter_names[p].text, letter_names[p].size());
            if (name.size() > best_length && viqr.substr(i, name.size()) == name) {
                best = p;
                best_length = name.size();
            }
        }
        if (best_length == 0) {
            viscii += viqr[i++];
        } else {
            viscii += static_cast<char>(letter_table[kViscii][best]);
            i += best_length;
        }
    }
    return viscii;
}

constexpr std::size_t kChunk = 1023;
constexpr std::size_t kChunks = 64;  // about 64 KiB of text

std::string sample_text() {
    std::string text;
    while (text.size() < kChunk * kChunks)
        for (std::string_view s : kSentences) text += viscii_from_viqr(s);
    text.resize(kChunk * kChunks);
    return text;
}

void BM_ViqrEncode(benchmark::State& state) {
    const int mode = static_cast<int>(state.range(0));
    const std::string text = sample_text();
    // NUL-terminated chunks, as viqr_encode takes them.
    std::vector<std::array<unsigned char, kChunk + 1>> chunks(kChunks);
    for (std::size_t c = 0; c < kChunks; ++c) {
        for (std::size_t i = 0; i < kChunk; ++i)
            chunks[c][i] = static_cast<unsigned char>(text[c * kChunk + i]);
        chunks[c][kChunk] = 0;
    }
    std::vector<unsigned char> out(4 * kChunk + 1);
    std::int64_t written = 0;
    for (auto _ : state) {
        for (const auto& chunk : chunks) {
            const int n = viqr_encode(chunk.data(), out.data(), '\\', mode);
            benchmark::DoNotOptimize(n);
            benchmark::ClobberMemory();
            written += n;
        }
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(text.size()));
    state.counters["out/in"] =
        double(written) / double(std::int64_t(state.iterations()) * std::int64_t(text.size()));
}
BENCHMARK(BM_ViqrEncode)->ArgName("mode")->Arg(0)->Arg(1);

void BM_ViqrEncodeRun(benchmark::State& state) {
    const std::string text = sample_text();
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::vector<unsigned char> out(3 * kChunk);
    for (auto _ : state) {
        unsigned char previous = 0;
        for (std::size_t at = 0; at < text.size(); at += kChunk) {
            const std::size_t n = viqr_encode_run(bytes + at, kChunk, previous, out.data(), '\\');
            benchmark::DoNotOptimize(n);
            benchmark::ClobberMemory();
            previous = bytes[at + kChunk - 1];
        }
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(text.size()));
}
BENCHMARK(BM_ViqrEncodeRun);

// The same on 1 MiB of the Vietnamese manual pages (manpages-vi), where letters, marks and
// escapes stand less regularly than in the sample.
void BM_ViqrEncodeRunManualPages(benchmark::State& state) {
    const std::string text = bench::vietnamese_viscii(std::size_t(1) << 20);
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::vector<unsigned char> out(3 * kChunk);
    for (auto _ : state) {
        unsigned char previous = 0;
        for (std::size_t at = 0; at + kChunk <= text.size(); at += kChunk) {
            const std::size_t n = viqr_encode_run(bytes + at, kChunk, previous, out.data(), '\\');
            benchmark::DoNotOptimize(n);
            benchmark::ClobberMemory();
            previous = bytes[at + kChunk - 1];
        }
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) *
                            std::int64_t(text.size() / kChunk * kChunk));
}
BENCHMARK(BM_ViqrEncodeRunManualPages);

}  // namespace
}  // namespace toneshift
