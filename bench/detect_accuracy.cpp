// How often the detector names the right format, for passages of real Vietnamese prose
// written in every format, and what it says of text that is not Vietnamese; then how fast
// it reads. Not a Google Benchmark: it prints a table. Run by bench/detect_accuracy.sh.
//
// Usage: detect_accuracy VI_UTF8 EN_ASCII FR_LATIN1 DE_CP1252 [PASSAGES_PER_LENGTH]
// Each file holds one paragraph a line (bench/detect_corpus.sh). DETECT_SHOW=F prints on
// standard error the passages of format F that were not detected right (99: the wrong
// answers for the files that are no Vietnamese), and skips the speed runs.

#include <utf8proc.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "convert/converter.h"
#include "convert/format_names.h"
#include "detect/detect.h"
#include "tables/letter_names.h"
#include "tables/letter_table.h"
#include "tables/letter_unicode.h"

namespace {

using namespace toneshift;
using Bytes = std::string;

constexpr int kLengths[] = {20, 50, 100, 200, 1000};

std::string read_file(const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "detect_accuracy: cannot read %s\n", path);
        std::exit(2);
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::u32string decode_utf8(const std::string& s) {
    std::u32string out;
    std::size_t i = 0;
    while (i < s.size()) {
        utf8proc_int32_t cp = 0;
        const auto n = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(s.data()) + i,
                                        utf8proc_ssize_t(s.size() - i), &cp);
        if (n <= 0) {
            out.push_back(0xFFFD);
            ++i;
        } else {
            out.push_back(char32_t(cp));
            i += std::size_t(n);
        }
    }
    return out;
}

std::string nfc(const std::string& s) {
    utf8proc_uint8_t* out = utf8proc_NFC(reinterpret_cast<const utf8proc_uint8_t*>(s.c_str()));
    if (out == nullptr) return s;
    std::string r(reinterpret_cast<char*>(out));
    std::free(out);
    return r;
}

// Converts whole bytes from one format into another with the converter, or returns false
// where the converter refuses (a character the target cannot write).
bool convert(const Bytes& in, int from, int to, LossPolicy policy, Bytes& out) {
    Converter c(ConvertOptions{from, to, policy});
    if (!c.ok()) return false;
    std::vector<unsigned char> buf(kConvertGrowth * in.size() + kConvertSlack);
    const ConvertResult r = c.convert(reinterpret_cast<const unsigned char*>(in.data()), in.size(),
                                      buf.data(), buf.size(), true);
    if (r.stop != ConvertResult::Stop::kInputUsed) return false;
    out.assign(reinterpret_cast<const char*>(buf.data()), r.written);
    return true;
}

std::string to_utf8(const std::u32string& text) {
    std::string out;
    for (char32_t c : text) {
        utf8proc_uint8_t buf[4];
        const auto n = utf8proc_encode_char(utf8proc_int32_t(c), buf);
        out.append(reinterpret_cast<char*>(buf), std::size_t(n));
    }
    return out;
}

// The characters that format f reads from the bytes (what cannot be read: U+FFFD).
std::u32string reading(int f, const Bytes& b) {
    Bytes utf8;
    if (!convert(b, f, kUtf8, LossPolicy::kReplace, utf8)) return U"\uFFFD";
    return decode_utf8(utf8);
}

// The passage in format f, or false where f cannot write it. A format without toned
// capitals writes their small letters (the text stays Vietnamese); nothing else is replaced.
bool encode(const std::u32string& text, int f, Bytes& out) {
    if (convert(to_utf8(text), kUtf8, f, LossPolicy::kRefuse, out)) return true;
    if (!convert(to_utf8(text), kUtf8, f, LossPolicy::kReplace, out)) return false;
    const std::u32string back = reading(f, out);
    if (back.size() != text.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (back[i] != text[i] && (letter_position(back[i]) < 0 || letter_position(text[i]) < 0))
            return false;
    return true;
}

bool writable(char32_t c) {
    return (c >= 0x20 && c < 0x7F) || c == '\n' || letter_position(c) >= 0;
}

bool has_letter_outside_ascii(const std::u32string& s) {
    for (char32_t c : s)
        if (c >= 0x80) return true;
    return false;
}

// A passage of Vietnamese text: at least a third of its words carry diacritics (in
// Vietnamese prose most do). The manual pages hold untranslated English and command lines
// too, which say little or nothing of a Vietnamese encoding.
bool vietnamese(const std::u32string& s) {
    std::size_t words = 0, marked = 0;
    bool in_word = false, word_marked = false;
    for (std::size_t i = 0; i <= s.size(); ++i) {
        const char32_t c = i < s.size() ? s[i] : U' ';
        const bool letter =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || letter_position(c) >= 0;
        if (letter) {
            in_word = true;
            word_marked = word_marked || letter_position(c) >= 0;
        } else if (in_word) {
            ++words;
            marked += word_marked ? 1 : 0;
            in_word = word_marked = false;
        }
    }
    return marked != 0 && marked * 3 >= words;
}

// Passages of at least `length` characters of whole words, spread over the text.
template <typename String>
std::vector<String> passages(const String& text, std::size_t length, std::size_t count,
                             bool (*ok)(typename String::value_type)) {
    std::vector<String> out;
    const std::size_t stride = text.size() / (count + 1);
    for (std::size_t k = 0; k < count; ++k) {
        std::size_t start = k * stride;
        while (start < text.size() && start > 0 && text[start - 1] != ' ' &&
               text[start - 1] != '\n')
            ++start;
        std::size_t end = start + length;
        if (end > text.size()) break;
        while (end < text.size() && text[end] != ' ' && text[end] != '\n') ++end;
        String p = text.substr(start, end - start);
        bool good = true;
        for (auto c : p) good = good && ok(c);
        if (good) out.push_back(p);
    }
    return out;
}

Bytes oneline(Bytes b) {
    for (char& c : b)
        if (c == '\n') c = '/';
    return b;
}

Detection detect(const Bytes& b) {
    Detector d;
    d.feed(reinterpret_cast<const unsigned char*>(b.data()), b.size());
    return d.finish();
}

// Whether tsconv's guard would refuse the passage given its true format `f`.
bool guard_refuses(const Bytes& b, int f) {
    Detector d;
    d.feed(reinterpret_cast<const unsigned char*>(b.data()), b.size());
    d.finish();
    return d.clearly_other_than(f) >= 0;
}

enum Outcome { kRight, kUnknown, kWrong };

Outcome judge(const Detection& d, int truth, const Bytes& bytes, const std::u32string& text) {
    if (d.verdict != Detection::Verdict::kFormat) return kUnknown;
    const int g = d.format;
    if (g == truth) return kRight;
    if (truth == kViqr || g == kViqr)  // VIQR reads like ASCII only where it composes nothing
        return !has_letter_outside_ascii(text) && (g == kPlainVietnamese || g == kViqr) &&
                       bytes.find('\\') == Bytes::npos
                   ? kRight
                   : kWrong;
    return reading(g, bytes) == reading(truth, bytes) ? kRight : kWrong;
}

struct Tally {
    std::size_t n = 0, right = 0, unknown = 0, wrong = 0;
    void add(Outcome o) {
        ++n;
        (o == kRight ? right : o == kUnknown ? unknown : wrong)++;
    }
};

std::string pct(std::size_t a, std::size_t n) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%5.1f", n == 0 ? 0.0 : 100.0 * double(a) / double(n));
    return buf;
}

double mb_per_s(const Bytes& data) {
    constexpr std::size_t kPiece = 64 * 1024;
    double best = 0;
    for (int round = 0; round < 3; ++round) {
        // Processor time of this thread: the machine may be shared with other work.
        timespec t0{}, t1{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t0);
        Detector d;
        for (std::size_t i = 0; i < data.size(); i += kPiece)
            d.feed(reinterpret_cast<const unsigned char*>(data.data()) + i,
                   std::min(kPiece, data.size() - i));
        const Detection r = d.finish();
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t1);
        const double s = double(t1.tv_sec - t0.tv_sec) + 1e-9 * double(t1.tv_nsec - t0.tv_nsec);
        if (r.verdict == Detection::Verdict::kUnknown && round == 0)
            std::printf("  (note: the large sample came out unknown)\n");
        best = std::max(best, double(data.size()) / s / 1e6);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: detect_accuracy VI_UTF8 EN_ASCII FR_LATIN1 DE_CP1252 [N]\n");
        return 2;
    }
    const std::size_t per_length = argc > 5 ? std::size_t(std::atol(argv[5])) : 1000;
    const std::u32string vi = decode_utf8(nfc(read_file(argv[1])));
    const Bytes en = read_file(argv[2]), fr = read_file(argv[3]), de = read_file(argv[4]);

    std::printf(
        "Vietnamese passages (manpages-vi), %zu asked per length; right / unknown / "
        "wrong in %%\n\n",
        per_length);
    std::printf("%-12s", "format");
    for (int len : kLengths) std::printf(" | %4d: right unkn wrong", len);
    std::printf("\n");
    std::vector<std::vector<std::u32string>> sets;
    std::size_t not_vietnamese = 0;
    for (int len : kLengths) {
        sets.push_back(passages(vi, std::size_t(len), per_length, writable));
        not_vietnamese +=
            std::erase_if(sets.back(), [](const std::u32string& p) { return !vietnamese(p); });
    }
    std::vector<Tally> per_length_total(std::size(kLengths));
    std::size_t wrong_50_plus = 0;
    std::size_t guard_refusals = 0, guarded = 0;
    for (int f = 0; f < kConvertFormatCount; ++f) {
        if (f == kTcvn3Caps || f == kTcvn3VnCaps) continue;  // a font's property, not the bytes'
        std::printf("%-12s", std::string(format_names[std::size_t(f)].name).c_str());
        for (std::size_t li = 0; li < std::size(kLengths); ++li) {
            Tally t;
            for (const std::u32string& p : sets[li]) {
                Bytes b;
                if (!encode(p, f, b)) continue;
                const Detection d = detect(b);
                const Outcome o = judge(d, f, b, p);
                ++guarded;
                if (guard_refuses(b, f)) {
                    ++guard_refusals;
                    if (std::getenv("DETECT_SHOW") != nullptr)
                        std::fprintf(stderr, "GUARD %s | %s\n",
                                     std::string(format_names[std::size_t(f)].name).c_str(),
                                     oneline(b).c_str());
                }
                if (o != kRight && std::getenv("DETECT_SHOW") != nullptr &&
                    (std::atoi(std::getenv("DETECT_SHOW")) == f)) {
                    std::string u8;
                    for (char32_t c : p) {
                        if (c == '\n') c = '/';
                        utf8proc_uint8_t buf[4];
                        u8.append(reinterpret_cast<char*>(buf),
                                  std::size_t(utf8proc_encode_char(utf8proc_int32_t(c), buf)));
                    }
                    std::fprintf(stderr, "%s %zu %s %s | %s\n", o == kWrong ? "WRONG" : "unkn",
                                 p.size(),
                                 d.format >= 0
                                     ? std::string(format_names[std::size_t(d.format)].name).c_str()
                                     : "-",
                                 d.details.c_str(), u8.c_str());
                }
                t.add(o);
                per_length_total[li].add(o);
                if (o == kWrong && kLengths[li] >= 50) ++wrong_50_plus;
            }
            std::printf(" | %5s %5s %5s", pct(t.right, t.n).c_str(), pct(t.unknown, t.n).c_str(),
                        pct(t.wrong, t.n).c_str());
            if (li + 1 == std::size(kLengths)) std::printf(" | %zu passages", t.n);
        }
        std::printf("\n");
    }
    std::printf("%-12s", "all");
    for (const Tally& t : per_length_total)
        std::printf(" | %5s %5s %5s", pct(t.right, t.n).c_str(), pct(t.unknown, t.n).c_str(),
                    pct(t.wrong, t.n).c_str());
    std::printf("\npassages per format and length:");
    for (std::size_t li = 0; li < std::size(kLengths); ++li)
        std::printf(" %d: %zu", kLengths[li], sets[li].size());
    std::printf(" (%zu more were left out: fewer than a third of their words have diacritics)",
                not_vietnamese);
    std::printf("\nwrong answers at 50 characters and more: %zu\n", wrong_50_plus);
    // tsconv refuses an input given as a format that the text clearly is not; a passage
    // given its true format must never be refused.
    std::printf("guard refusals of a passage given its true format: %zu of %zu\n\n", guard_refusals,
                guarded);

    // Text that is no Vietnamese: a format other than plain is a wrong answer, unless it reads
    // the bytes as the characters they are.
    std::printf(
        "Non-Vietnamese files: plain / unknown or mixed / a format (harmless) / a "
        "format (wrong)\n");
    struct Foreign {
        const char* name;
        const Bytes* text;
        std::u32string (*chars)(const Bytes&);
    };
    auto latin1 = [](const Bytes& b) {
        std::u32string s;
        for (unsigned char c : b) s.push_back(c);
        return s;
    };
    auto cp1252 = [](const Bytes& b) {  // the letters are those of Latin-1
        std::u32string s;
        for (unsigned char c : b) s.push_back(c >= 0x80 && c < 0xA0 ? 0xFFFD : c);
        return s;
    };
    const Foreign foreign[] = {{"english", &en, +latin1},
                               {"french-latin1", &fr, +latin1},
                               {"german-cp1252", &de, +cp1252}};
    std::size_t foreign_wrong = 0;
    auto report = [&](const char* name, const std::vector<Bytes>& files,
                      std::u32string (*chars)(const Bytes&)) {
        std::size_t plain = 0, unknown = 0, harmless = 0, wrong = 0;
        for (const Bytes& b : files) {
            const Detection d = detect(b);
            if (d.verdict != Detection::Verdict::kFormat) {
                ++unknown;
            } else if (d.format == kPlainVietnamese) {
                ++plain;
            } else if (chars != nullptr && d.format != kViqr && reading(d.format, b) == chars(b)) {
                ++harmless;
            } else {
                ++wrong;
                if (std::getenv("DETECT_SHOW") != nullptr)
                    std::fprintf(stderr, "WRONG %s %s %s | %s\n", name,
                                 std::string(format_names[std::size_t(d.format)].name).c_str(),
                                 d.details.c_str(), oneline(b).c_str());
            }
        }
        foreign_wrong += wrong;
        std::printf("%-16s %5zu files: %5zu %5zu %5zu %5zu\n", name, files.size(), plain, unknown,
                    harmless, wrong);
    };
    for (const Foreign& fo : foreign) {
        std::vector<Bytes> files;
        for (int len : kLengths) {
            auto ps = passages(
                *fo.text, std::size_t(len), per_length / 4, +[](char c) { return c != '\0'; });
            files.insert(files.end(), ps.begin(), ps.end());
        }
        report(fo.name, files, fo.chars);
    }
    {
        std::mt19937 rng(12);
        std::vector<Bytes> files;
        for (int len : kLengths)
            for (std::size_t k = 0; k < per_length / 4; ++k) {
                Bytes b(std::size_t(len), '\0');
                for (char& c : b) c = char(rng() & 0xFF);
                files.push_back(b);
            }
        report("random bytes", files, nullptr);
        files.clear();
        for (int len : kLengths)
            for (const Bytes& p : passages(
                     en, std::size_t(len), per_length / 4, +[](char c) { return c != '\0'; })) {
                Bytes b;
                for (char c : p) {
                    b.push_back(c);
                    b.push_back('\0');
                }
                files.push_back(b);
            }
        report("utf-16le english", files, nullptr);
    }
    std::printf("non-Vietnamese files detected as a Vietnamese format (wrong): %zu\n\n",
                foreign_wrong);

    if (std::getenv("DETECT_SHOW") != nullptr) return 0;
    // Speed over a large text in memory, fed in 64 KiB pieces (best of three).
    std::u32string big;
    while (big.size() < 32u * 1024 * 1024) big += vi + U"\n";
    for (char32_t& c : big)
        if (!writable(c)) c = '?';
    std::printf(
        "Speed (processor time, best of three, 64 KiB pieces), %zu characters of "
        "Vietnamese:\n",
        big.size());
    for (int f : {0, 3, kViqr, kUtf8, kTcvn3, kVniWin, kCp1258}) {
        Bytes b;
        if (!encode(big, f, b)) convert(to_utf8(big), kUtf8, f, LossPolicy::kReplace, b);
        std::printf("  %-8s %6.1f MB/s (%zu bytes)\n",
                    std::string(format_names[std::size_t(f)].name).c_str(), mb_per_s(b), b.size());
    }
    Bytes english;
    while (english.size() < 32u * 1024 * 1024) english += en;
    std::printf("  %-8s %6.1f MB/s (%zu bytes)\n", "english", mb_per_s(english), english.size());
    return 0;
}
