// The streaming converter over 4 MiB of Vietnamese text in memory, in 64 KiB pieces, and
// glibc's iconv doing the same where it knows the format (VISCII); then the ratios.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "convert/converter.h"
#include "vietnamese_corpus.h"

namespace toneshift::bench {
namespace {

constexpr std::size_t kTextSize = 4 << 20;
constexpr std::size_t kPiece = 64 << 10;

const std::string& viscii() {
    static const std::string text = vietnamese_viscii(kTextSize);
    return text;
}

// The benchmark text in format f (UTF-8 composed or decomposed).
const std::string& text_in(int f, bool nfd) {
    static std::map<std::pair<int, bool>, std::string> texts;
    auto [it, fresh] = texts.try_emplace({f, nfd});
    if (fresh) it->second = f == kViscii ? viscii() : convert_text(viscii(), kViscii, f, nfd);
    return it->second;
}

void convert_all(benchmark::State& state, int from, int to, bool nfd_input) {
    const std::string& text = text_in(from, nfd_input);
    std::vector<unsigned char> out(kConvertGrowth * kPiece + kConvertSlack);
    for (auto _ : state) {
        // Replace: the manual pages hold ASCII punctuation that some formats use for letters.
        Converter c({from, to, LossPolicy::kReplace, false});
        for (std::size_t at = 0; at < text.size(); at += kPiece) {
            const std::size_t n = std::min(kPiece, text.size() - at);
            const ConvertResult r =
                c.convert(reinterpret_cast<const unsigned char*>(text.data()) + at, n, out.data(),
                          out.size(), at + n == text.size());
            if (r.stop != ConvertResult::Stop::kInputUsed) state.SkipWithError("not converted");
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(text.size()));
}

void iconv_all(benchmark::State& state, const char* from, const char* to, int text_format) {
    const std::string& text = text_in(text_format, false);
    std::vector<char> out(4 * kPiece);
    for (auto _ : state) {
        iconv_t cd = iconv_open(to, from);
        for (std::size_t at = 0, n = 0; at < text.size(); at += n) {
            // Pieces end between characters, so that each converts whole.
            n = std::min(kPiece, text.size() - at);
            while (at + n < text.size() && (text[at + n] & 0xC0) == 0x80) --n;
            std::size_t in_left = n;
            char* in = const_cast<char*>(text.data()) + at;
            char* o = out.data();
            std::size_t out_left = out.size();
            if (iconv(cd, &in, &in_left, &o, &out_left) == std::size_t(-1))
                state.SkipWithError("iconv failed");
            benchmark::DoNotOptimize(out.data());
        }
        iconv_close(cd);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(text.size()));
}

BENCHMARK_CAPTURE(convert_all, viscii_to_utf8, kViscii, kUtf8, false);
BENCHMARK_CAPTURE(iconv_all, viscii_to_utf8, "VISCII", "UTF-8", kViscii);
BENCHMARK_CAPTURE(convert_all, utf8_nfc_to_viscii, kUtf8, kViscii, false);
BENCHMARK_CAPTURE(convert_all, utf8_nfd_to_viscii, kUtf8, kViscii, true);
BENCHMARK_CAPTURE(iconv_all, utf8_to_viscii, "UTF-8", "VISCII", kUtf8);
BENCHMARK_CAPTURE(convert_all, vni_to_utf8, 3, kUtf8, false);
BENCHMARK_CAPTURE(convert_all, viqr_to_utf8, kViqr, kUtf8, false);
BENCHMARK_CAPTURE(convert_all, viscii_to_vni, kViscii, 3, false);
BENCHMARK_CAPTURE(convert_all, viscii_to_viqr, kViscii, kViqr, false);

// Keeps each benchmark's throughput for the ratios printed at the end.
class Recorder : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, double> rate;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            const auto it = r.counters.find("bytes_per_second");
            if (it != r.counters.end()) rate[r.benchmark_name()] = it->second;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace
}  // namespace toneshift::bench

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    toneshift::bench::Recorder recorder;
    benchmark::RunSpecifiedBenchmarks(&recorder);
    auto ratio = [&](const char* ours, const char* theirs, const char* what) {
        const double a = recorder.rate["convert_all/" + std::string(ours)];
        const double b = recorder.rate["iconv_all/" + std::string(theirs)];
        if (a > 0 && b > 0)
            std::printf("%-28s %7.1f MB/s, iconv %7.1f MB/s: %.1f times (target >= 3)\n", what,
                        a / 1e6, b / 1e6, a / b);
    };
    ratio("viscii_to_utf8", "viscii_to_utf8", "VISCII to UTF-8");
    ratio("utf8_nfc_to_viscii", "utf8_to_viscii", "UTF-8 (NFC) to VISCII");
    ratio("utf8_nfd_to_viscii", "utf8_to_viscii", "UTF-8 (NFD) to VISCII");
    benchmark::Shutdown();
    return 0;
}
