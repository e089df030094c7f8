// The streaming converter over 4 MiB of Vietnamese text in memory, in 64 KiB pieces, and
// glibc's iconv doing the same where it knows the format (VISCII); then the ratios.
// Then hostile input: 64 MiB of bytes 0x80..0xFF (TONESHIFT_HOSTILE_MIB sets the size) from
// every format into UTF-8 and into VISCII under each policy, against the same pairs on the
// Vietnamese text. A problem at every byte must not cost more than ten ordinary bytes.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "convert/converter.h"
#include "convert/format_names.h"
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

// Bytes 0x80..0xFF in a fixed pseudo-random order: in most formats many are undefined or
// characters that the target lacks, and few runs of them are alike.
const std::string& hostile() {
    static const std::string text = [] {
        const char* mib = std::getenv("TONESHIFT_HOSTILE_MIB");
        const std::size_t size = std::size_t(mib != nullptr ? std::atoi(mib) : 64) << 20;
        std::string t(size, '\0');
        std::uint64_t x = 0x9E3779B97F4A7C15;
        for (char& c : t) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            c = static_cast<char>(0x80 | (x & 0x7F));
        }
        return t;
    }();
    return text;
}

// Under kRefuse the conversion stops at the first problem: the bytes counted are those taken.
void convert_hostile(benchmark::State& state, int from, int to, LossPolicy policy) {
    const std::string& text = hostile();
    std::vector<unsigned char> out(kConvertGrowth * kPiece + kConvertSlack);
    std::int64_t taken = 0;
    for (auto _ : state) {
        Converter c({from, to, policy, false});
        for (std::size_t at = 0; at < text.size(); at += kPiece) {
            const std::size_t n = std::min(kPiece, text.size() - at);
            const ConvertResult r =
                c.convert(reinterpret_cast<const unsigned char*>(text.data()) + at, n, out.data(),
                          out.size(), at + n == text.size());
            taken += std::int64_t(r.consumed);
            benchmark::DoNotOptimize(out.data());
            if (r.stop == ConvertResult::Stop::kRefused) break;
            if (r.stop != ConvertResult::Stop::kInputUsed) state.SkipWithError("not converted");
        }
    }
    state.SetBytesProcessed(taken);
}

constexpr const char* kPolicyNames[] = {"refuse", "replace", "translit"};

std::string pair_name(int from, int to) {
    return std::string(format_names[std::size_t(from)].name) + "_to_" +
           std::string(format_names[std::size_t(to)].name);
}

// Every source into UTF-8 and into VISCII: the Vietnamese text, and the hostile bytes under
// each policy.
void register_pairs() {
    for (int from = 0; from < kConvertFormatCount; ++from) {
        for (int to : {kUtf8, int(kViscii)}) {
            const std::string pair = pair_name(from, to);
            benchmark::RegisterBenchmark(
                ("ordinary/" + pair).c_str(),
                [from, to](benchmark::State& st) { convert_all(st, from, to, false); });
            for (int p = 0; p < 3; ++p)
                benchmark::RegisterBenchmark(("hostile/" + pair + "/" + kPolicyNames[p]).c_str(),
                                             [from, to, p](benchmark::State& st) {
                                                 convert_hostile(st, from, to, LossPolicy(p));
                                             });
        }
    }
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
    toneshift::bench::register_pairs();
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
    // Hostile input under kReplace and kTransliterate against the ordinary text, pair by pair.
    bool header = false;
    for (int from = 0; from < toneshift::kConvertFormatCount; ++from) {
        for (int to : {toneshift::kUtf8, int(toneshift::kViscii)}) {
            const std::string pair = toneshift::bench::pair_name(from, to);
            const double ordinary = recorder.rate["ordinary/" + pair];
            const double replace = recorder.rate["hostile/" + pair + "/replace"];
            const double translit = recorder.rate["hostile/" + pair + "/translit"];
            if (ordinary <= 0 || replace <= 0 || translit <= 0) continue;
            if (!header)
                std::printf("%-24s %10s %10s %10s %7s (MB/s; hostile/ordinary >= 0.1)\n", "pair",
                            "ordinary", "replace", "translit", "worst");
            header = true;
            std::printf("%-24s %10.1f %10.1f %10.1f %7.2f\n", pair.c_str(), ordinary / 1e6,
                        replace / 1e6, translit / 1e6, std::min(replace, translit) / ordinary);
        }
    }
    benchmark::Shutdown();
    return 0;
}
