// How well repair restores garbled Vietnamese, and whether it leaves clean text alone; then
// how fast it reads. Not a Google Benchmark: it prints a table. Run by
// bench/repair_accuracy.sh, which garbles the text with iconv.
//
// Usage: repair_accuracy CLEAN GARBLED_NAME=FILE... -- NEGATIVE...
// CLEAN is Vietnamese UTF-8, one paragraph a line; each GARBLED file is CLEAN garbled by one
// layer or pair (same lines); each NEGATIVE is clean text that must come out byte for byte.

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "repair/repair.h"

namespace {

using toneshift::repair::Repairer;
using toneshift::repair::RepairReport;

std::string read_file(const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "repair_accuracy: cannot read %s\n", path);
        std::exit(2);
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> words_of(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    for (char c : text) {
        if (c == ' ' || c == '\n' || c == '\t') {
            if (!word.empty()) words.push_back(word);
            word.clear();
        } else {
            word.push_back(c);
        }
    }
    if (!word.empty()) words.push_back(word);
    return words;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        const std::size_t stop = end == std::string::npos ? text.size() : end;
        lines.push_back(text.substr(at, stop - at));
        at = stop + 1;
    }
    return lines;
}

// The share of the true words that a text has right, line by line: by place where a line
// has as many words as it should, else as many as the two lines share.
double exact_words(const std::string& truth, const std::string& text,
                   std::size_t* wrong = nullptr) {
    const std::vector<std::string> a = lines_of(truth), b = lines_of(text);
    std::size_t total = 0, same = 0;
    for (std::size_t k = 0; k < a.size(); ++k) {
        const std::vector<std::string> t = words_of(a[k]);
        const std::vector<std::string> w =
            k < b.size() ? words_of(b[k]) : std::vector<std::string>{};
        total += t.size();
        if (t.size() == w.size()) {
            for (std::size_t j = 0; j < t.size(); ++j) {
                same += t[j] == w[j] ? 1 : 0;
                // A word that differs but holds no U+FFFD: left garbled, or a wrong letter.
                if (wrong != nullptr && t[j] != w[j] &&
                    w[j].find("\xEF\xBF\xBD") == std::string::npos)
                    ++*wrong;
            }
        } else {
            std::vector<bool> used(w.size());
            for (const std::string& x : t)
                for (std::size_t j = 0; j < w.size(); ++j)
                    if (!used[j] && w[j] == x) {
                        used[j] = true;
                        ++same;
                        break;
                    }
        }
    }
    return total == 0 ? 100.0 : 100.0 * double(same) / double(total);
}

// Repairs a text in blocks of whole lines of about 1 MiB, as tsconv does.
std::string repair(const std::string& text, RepairReport& report) {
    Repairer r;
    std::string out;
    std::uint64_t line = 1;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = std::min(text.size(), at + (std::size_t(1) << 20));
        if (end < text.size()) {
            const std::size_t nl = text.find('\n', end);
            end = nl == std::string::npos ? text.size() : nl + 1;
        }
        const std::string_view block(text.data() + at, end - at);
        r.repair_block(block, line, out, report);
        for (char c : block) line += c == '\n' ? 1 : 0;
        at = end;
    }
    return out;
}

double seconds(const timespec& a, const timespec& b) {
    return double(b.tv_sec - a.tv_sec) + 1e-9 * double(b.tv_nsec - a.tv_nsec);
}

double mb_per_s(const std::string& text) {
    double best = 0;
    for (int round = 0; round < 3; ++round) {
        timespec t0{}, t1{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t0);
        RepairReport report;
        const std::string out = repair(text, report);
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t1);
        best = std::max(best, double(text.size()) / seconds(t0, t1) / 1e6);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: repair_accuracy CLEAN NAME=GARBLED... -- NEGATIVE...\n");
        return 2;
    }
    const std::string clean = read_file(argv[1]);
    const std::size_t truth_words = words_of(clean).size();
    int i = 2;
    std::printf("Garbled Vietnamese (manpages-vi, %zu words), words exact after repair:\n\n",
                truth_words);
    std::printf("%-44s %8s %8s %10s %8s\n", "layers", "before", "after", "U+FFFD", "other");
    std::string garbled_sample;
    for (; i < argc && std::string(argv[i]) != "--"; ++i) {
        const std::string arg = argv[i];
        const std::size_t eq = arg.find('=');
        const std::string garbled = read_file(arg.substr(eq + 1).c_str());
        if (garbled_sample.empty()) garbled_sample = garbled;
        RepairReport report;
        const std::string repaired = repair(garbled, report);
        if (std::getenv("REPAIR_SHOW") != nullptr && arg.find(std::getenv("REPAIR_SHOW")) == 0) {
            // The repaired lines that kept a U+FFFD, with the truth under them.
            const std::vector<std::string> r = lines_of(repaired), t = lines_of(clean);
            for (std::size_t k = 0; k < r.size() && k < t.size(); ++k)
                if (r[k].find(std::getenv("REPAIR_FIND") ? std::getenv("REPAIR_FIND")
                                                         : "\xEF\xBF\xBD") != std::string::npos)
                    std::fprintf(stderr, "%s\n%s\n\n", r[k].c_str(), t[k].c_str());
        }
        std::size_t wrong = 0;
        const double after = exact_words(clean, repaired, &wrong);
        std::printf("%-44s %7.2f%% %7.2f%% %10llu %8zu\n", arg.substr(0, eq).c_str(),
                    exact_words(clean, garbled), after,
                    static_cast<unsigned long long>(report.unrecovered), wrong);
    }
    std::printf("\nClean text, bytes changed by repair (must be 0):\n");
    std::size_t changed_files = 0;
    {
        RepairReport report;
        const std::string out = repair(clean, report);
        std::printf("  %-40s %s\n", "vietnamese (utf-8)", out == clean ? "0" : "CHANGED");
        changed_files += out == clean ? 0 : 1;
    }
    for (++i; i < argc; ++i) {
        const std::string text = read_file(argv[i]);
        RepairReport report;
        const std::string out = repair(text, report);
        std::size_t lines = 0;
        for (const auto& r : report.ranges) lines += r.last - r.first + 1;
        std::printf("  %-40s %s (%zu lines)\n", argv[i], out == text ? "0" : "CHANGED", lines);
        changed_files += out == text ? 0 : 1;
    }
    std::printf("\nSpeed (processor time, best of three):\n");
    std::string big, big_garbled;
    while (big.size() < (std::size_t(32) << 20)) big += clean;
    while (big_garbled.size() < (std::size_t(32) << 20)) big_garbled += garbled_sample;
    std::printf("  clean Vietnamese UTF-8   %7.1f MB/s\n", mb_per_s(big));
    if (!garbled_sample.empty())
        std::printf("  garbled (first layers)   %7.1f MB/s\n", mb_per_s(big_garbled));
    return changed_files == 0 ? 0 : 1;
}
