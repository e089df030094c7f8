// The typed encoding tables against the system's own converters: glibc's iconv for
// Windows-1258, VN1, Windows-1252 and Mac OS Roman, and recode for VNI. A test whose tool or
// encoding is missing is skipped.
#include "tables/encodings.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tables/letter_unicode.h"

namespace toneshift {
namespace {

// Runs the shell command `command` with `input` as its standard input and returns what it
// wrote to standard output, or nothing when it could not run or, unless `may_fail`, when it
// exited with failure.
std::optional<std::string> run_filter(const std::string& command, const std::string& input,
                                      bool may_fail = false) {
    std::string name = testing::TempDir() + "encodings_test_XXXXXX";
    const int fd = mkstemp(name.data());
    if (fd < 0) return std::nullopt;
    const bool written = write(fd, input.data(), input.size()) == ssize_t(input.size());
    close(fd);
    std::optional<std::string> out;
    if (written) {
        if (FILE* pipe = popen((command + " <'" + name + "' 2>/dev/null").c_str(), "r")) {
            std::string text;
            char buffer[4096];
            for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
                text.append(buffer, n);
            const int status = pclose(pipe);
            if (status != -1 && WIFEXITED(status) && (may_fail || WEXITSTATUS(status) == 0))
                out = text;
        }
    }
    unlink(name.c_str());
    return out;
}

bool iconv_knows(const std::string& encoding) {
    return run_filter("iconv -f " + encoding + " -t UTF-32LE", "").has_value();
}

std::vector<char32_t> utf32le(const std::string& bytes) {
    std::vector<char32_t> cps;
    for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4) {
        char32_t c = 0;
        for (std::size_t k = 4; k-- > 0;) c = c << 8 | (unsigned char)(bytes[i + k]);
        cps.push_back(c);
    }
    return cps;
}

std::string utf8(char32_t c) {
    std::string s;
    if (c < 0x80) {
        s += char(c);
    } else if (c < 0x800) {
        s += char(0xC0 | c >> 6);
        s += char(0x80 | (c & 0x3F));
    } else {
        s += char(0xE0 | c >> 12);
        s += char(0x80 | (c >> 6 & 0x3F));
        s += char(0x80 | (c & 0x3F));
    }
    return s;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        out.push_back(text.substr(start, end - start));
    return out;
}

std::string bytes_of(const Spelling& s) {
    return std::string(reinterpret_cast<const char*>(s.bytes), s.size);
}

// What iconv reads each byte of `encoding` as, kNoCharacter where it reads nothing. Every
// byte goes in followed by a line feed, which keeps glibc from composing it with the next
// byte (a letter and a combining mark byte read as one character); -c drops undefined bytes,
// leaving their lines empty. The line feed itself is read on its own.
std::optional<std::array<char32_t, 256>> iconv_reads(const std::string& encoding) {
    std::string input;
    for (int b = 0; b < 256; ++b) {
        if (b == '\n') continue;
        input += char(b);
        input += '\n';
    }
    const auto out = run_filter("iconv -c -f " + encoding + " -t UTF-32LE", input, true);
    const auto line_feed = run_filter("iconv -f " + encoding + " -t UTF-32LE", "\n");
    if (!out || !line_feed || utf32le(*line_feed).size() != 1) return std::nullopt;
    std::array<char32_t, 256> read{};
    read['\n'] = utf32le(*line_feed)[0];
    const std::vector<char32_t> cps = utf32le(*out);
    std::size_t i = 0;
    for (int b = 0; b < 256; ++b) {
        if (b == '\n') continue;
        if (i < cps.size() && cps[i] == U'\n') {
            read[std::size_t(b)] = kNoCharacter;
            i += 1;
        } else if (i + 1 < cps.size() && cps[i + 1] == U'\n') {
            read[std::size_t(b)] = cps[i];
            i += 2;
        } else {
            return std::nullopt;
        }
    }
    if (i != cps.size()) return std::nullopt;
    return read;
}

TEST(EncodingBytes, AgreeWithIconvForEveryByte) {
    struct Case {
        const char* encoding;
        const char32_t* table;
        std::size_t first;
        std::size_t size;
    };
    const Case cases[] = {
        {"CP1258", cp1258_bytes.data(), 0, 256},
        {"TCVN5712-1", vn1_bytes.data(), 0, 256},
        {"CP1252", cp1252_high.data(), 0x80, 32},
    };
    for (const Case& c : cases)
        if (!iconv_knows(c.encoding)) GTEST_SKIP() << "iconv lacks " << c.encoding;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.encoding);
        const auto read = iconv_reads(c.encoding);
        ASSERT_TRUE(read.has_value());
        for (std::size_t b = c.first; b < c.first + c.size; ++b)
            EXPECT_EQ(std::uint32_t(c.table[b - c.first]), std::uint32_t((*read)[b]))
                << "byte 0x" << std::hex << b;
    }
}

// VN1 extends TCVN3: each of TCVN3's 74 letter bytes reads as the same letter, which for a
// capital without a spelling of its own is its small letter.
TEST(EncodingSpellings, Tcvn3LettersAreWhatIconvReadsAsVn1) {
    if (!iconv_knows("TCVN5712-1")) GTEST_SKIP() << "iconv lacks TCVN5712-1";
    const auto read = iconv_reads("TCVN5712-1");
    ASSERT_TRUE(read.has_value());
    for (std::size_t r = 0; r < kLetterCount; ++r) {
        const Spelling& s = tcvn3_spellings[r];
        SCOPED_TRACE(testing::Message()
                     << "row " << r << " U+" << std::hex << std::uint32_t(s.character));
        ASSERT_EQ(s.size, 1);
        const bool shared = r % 2 == 0 && tcvn3_spellings[r + 1].bytes[0] == s.bytes[0];
        EXPECT_EQ(std::uint32_t((*read)[s.bytes[0]]),
                  std::uint32_t(shared ? tcvn3_spellings[r + 1].character : s.character));
    }
}

// recode writes the capitals A(' and A(` with each other's bytes. The table gives A(' the
// mark byte 0xC9 and A(` 0xC8: every other capital's mark byte is its small letter's less
// 0x20, and the small a(' and a(` are 0xE9 and 0xE8 in recode as here, so the table is right
// and recode has the two swapped. The test holds the two to the same pair of spellings,
// whichever way round recode writes them.
TEST(EncodingSpellings, VniWinIsWhatRecodeWrites) {
    if (!run_filter("recode UTF-8..VNI", "")) GTEST_SKIP() << "recode with VNI is missing";
    std::string input;
    for (const Spelling& s : vni_win_spellings) input += utf8(s.character) + "\n";
    const auto out = run_filter("recode UTF-8..VNI", input);
    ASSERT_TRUE(out.has_value());
    const std::vector<std::string> written = lines(*out);
    ASSERT_EQ(written.size(), kLetterCount);
    for (std::size_t r = 0; r < kLetterCount; ++r) {
        const Spelling& s = vni_win_spellings[r];
        SCOPED_TRACE(testing::Message()
                     << "row " << r << " U+" << std::hex << std::uint32_t(s.character));
        if (s.character == U'\u1EAE' || s.character == U'\u1EB0') continue;
        EXPECT_EQ(written[r], bytes_of(s));
    }
    std::size_t a_breve_acute = 0, a_breve_grave = 0;
    for (std::size_t r = 0; r < kLetterCount; ++r) {
        if (vni_win_spellings[r].character == U'\u1EAE') a_breve_acute = r;
        if (vni_win_spellings[r].character == U'\u1EB0') a_breve_grave = r;
    }
    const std::string acute = bytes_of(vni_win_spellings[a_breve_acute]);
    const std::string grave = bytes_of(vni_win_spellings[a_breve_grave]);
    EXPECT_EQ(acute, "\x41\xC9");
    EXPECT_EQ(grave, "\x41\xC8");
    EXPECT_TRUE((written[a_breve_acute] == acute && written[a_breve_grave] == grave) ||
                (written[a_breve_acute] == grave && written[a_breve_grave] == acute));
}

// VNI for Mac is VNI for Windows moved from Windows-1252 to Mac OS Roman byte by byte, which
// checks a table that has only one published source against one that recode confirms.
TEST(EncodingSpellings, VniMacIsVniWinInMacRoman) {
    if (!iconv_knows("CP1252") || !iconv_knows("MACINTOSH"))
        GTEST_SKIP() << "iconv lacks CP1252 or MACINTOSH";
    std::string input;
    for (const Spelling& s : vni_win_spellings) input += bytes_of(s) + "\n";
    const auto out = run_filter("iconv -f CP1252 -t MACINTOSH", input);
    ASSERT_TRUE(out.has_value());
    const std::vector<std::string> moved = lines(*out);
    ASSERT_EQ(moved.size(), kLetterCount);
    for (std::size_t r = 0; r < kLetterCount; ++r) {
        SCOPED_TRACE(testing::Message() << "row " << r);
        EXPECT_EQ(moved[r], bytes_of(vni_mac_spellings[r]));
    }
}

// glibc writes each letter with the fewest bytes: its own byte, else the letter without its
// tone and a combining tone byte.
TEST(EncodingSpellings, Cp1258AndVn1SpellingsAreWhatIconvWrites) {
    struct Case {
        const char* encoding;
        const SpellingTable& spellings;
    };
    const Case cases[] = {{"CP1258", cp1258_spellings}, {"TCVN5712-1", vn1_spellings}};
    for (const Case& c : cases)
        if (!iconv_knows(c.encoding)) GTEST_SKIP() << "iconv lacks " << c.encoding;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.encoding);
        std::string input;
        for (const Spelling& s : c.spellings) input += utf8(s.character) + "\n";
        const auto out = run_filter(std::string("iconv -f UTF-8 -t ") + c.encoding, input);
        ASSERT_TRUE(out.has_value());
        const std::vector<std::string> written = lines(*out);
        ASSERT_EQ(written.size(), kLetterCount);
        for (std::size_t r = 0; r < kLetterCount; ++r) {
            SCOPED_TRACE(testing::Message() << "row " << r);
            EXPECT_EQ(written[r], bytes_of(c.spellings[r]));
        }
    }
}

// Every table lists the 134 letters of letter_code_points, each once, all in the same order,
// a capital just before its small letter; indexed by position they are letter_code_points.
TEST(EncodingSpellings, EveryTableListsTheLettersOnceInOneOrder) {
    std::vector<std::pair<std::string, const SpellingTable*>> tables;
    for (const SpelledEncoding& e : spelled_encodings) tables.emplace_back(e.name, e.spellings);
    tables.emplace_back("CP1258", &cp1258_spellings);
    tables.emplace_back("VN1", &vn1_spellings);
    for (const auto& [name, table] : tables) {
        SCOPED_TRACE(name);
        std::array<int, kLetterCount> seen{};
        for (std::size_t r = 0; r < kLetterCount; ++r) {
            const char32_t c = (*table)[r].character;
            EXPECT_EQ(c, tcvn3_spellings[r].character) << "row " << r;
            const int p = letter_position(c);
            ASSERT_GE(p, 0) << "row " << r;
            ++seen[std::size_t(p)];
            if (r % 2 == 1) {
                const char32_t capital = (*table)[r - 1].character;
                EXPECT_EQ(letter_position(capital), p == 0 ? 1 : p + 66) << "row " << r;
            }
        }
        for (std::size_t p = 0; p < kLetterCount; ++p) EXPECT_EQ(seen[p], 1) << "position " << p;
        const SpellingTable by_position = spellings_by_position(*table);
        for (std::size_t p = 0; p < kLetterCount; ++p)
            EXPECT_EQ(by_position[p].character, letter_code_points[p]) << "position " << p;
    }
}

}  // namespace
// The typed tables are the published facts they were typed from: each spelling, in order,
// and the Windows punctuation each keeps. The facts sit beside the repository (../shared),
// as on the project's machines; elsewhere the test is skipped.
TEST(EncodingSpellings, AreTheTablesTheyWereTypedFrom) {
    const std::string folder = std::string(TONESHIFT_SOURCE_DIR) + "/../shared/encodings/";
    struct Source {
        const char* file;
        const SpellingTable* table;
        std::vector<unsigned char> kept;
    };
    const Source sources[] = {
        {"tcvn3.tsv", &tcvn3_spellings, {tcvn3_kept_cp1252.begin(), tcvn3_kept_cp1252.end()}},
        {"vni-win.tsv",
         &vni_win_spellings,
         {vni_win_kept_cp1252.begin(), vni_win_kept_cp1252.end()}},
        {"vni-mac.tsv", &vni_mac_spellings, {}},
        {"bkhcm2.tsv", &bkhcm2_spellings, {bkhcm2_kept_cp1252.begin(), bkhcm2_kept_cp1252.end()}},
        {"vietware-f.tsv",
         &vietware_f_spellings,
         {vietware_f_kept_cp1252.begin(), vietware_f_kept_cp1252.end()}},
        {"vietware-x.tsv",
         &vietware_x_spellings,
         {vietware_x_kept_cp1252.begin(), vietware_x_kept_cp1252.end()}},
    };
    for (const Source& source : sources) {
        SCOPED_TRACE(source.file);
        FILE* f = std::fopen((folder + source.file).c_str(), "r");
        if (f == nullptr) GTEST_SKIP() << "no " << folder << source.file;
        std::vector<Spelling> rows;
        std::vector<unsigned char> kept;
        char line[512];
        std::string last_comment;
        while (std::fgets(line, sizeof line, f) != nullptr) {
            std::string text = line;
            if (!text.empty() && text.back() == '\n') text.pop_back();
            if (text.starts_with("#")) {
                last_comment = text;
                continue;
            }
            // The letter, "U+XXXX", then one or two bytes in hexadecimal.
            const std::size_t tab = text.find('\t');
            ASSERT_NE(tab, std::string::npos) << text;
            Spelling s{};
            unsigned code = 0, b0 = 0, b1 = 0;
            const int n = std::sscanf(text.c_str() + tab + 1, "U+%X\t%X %X", &code, &b0, &b1);
            ASSERT_GE(n, 2) << text;
            s.character = char32_t(code);
            s.size = std::uint8_t(n - 1);
            s.bytes[0] = static_cast<unsigned char>(b0);
            s.bytes[1] = static_cast<unsigned char>(n == 3 ? b1 : 0);
            rows.push_back(s);
        }
        std::fclose(f);
        // The last comment line lists the bytes kept: "# 80 82 ..." (or "# " for none).
        for (std::size_t at = 1; at < last_comment.size();) {
            unsigned b = 0;
            int used = 0;
            if (std::sscanf(last_comment.c_str() + at, " %X%n", &b, &used) != 1) break;
            kept.push_back(static_cast<unsigned char>(b));
            at += std::size_t(used);
        }
        ASSERT_EQ(rows.size(), kLetterCount);
        for (std::size_t r = 0; r < kLetterCount; ++r) {
            const Spelling& typed = (*source.table)[r];
            EXPECT_EQ(typed.character, rows[r].character) << r;
            EXPECT_EQ(typed.size, rows[r].size) << r;
            EXPECT_EQ(typed.bytes[0], rows[r].bytes[0]) << r;
            EXPECT_EQ(typed.bytes[1], rows[r].bytes[1]) << r;
        }
        EXPECT_EQ(kept, source.kept);
    }
}

}  // namespace toneshift
