// End-to-end conversions to and from VIQR through the built program.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "program.h"
#include "tables/letter_table.h"
#include "tables/recode.h"
#include "viqr/encoder/viqr_encoder.h"

namespace toneshift::testing {
namespace {

namespace fs = std::filesystem;

const fs::path kExamples = fs::path(TONESHIFT_SOURCE_DIR) / "examples";

class Viqr : public ::testing::Test {
  protected:
    // Runs one session and expects it to complain about nothing.
    void run(const std::string& input) {
        const ProgramRun r = run_toneshift(input, dir.path());
        ASSERT_FALSE(r.timed_out);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
    }
    // Converts `bytes` from format `from` to format `to` and returns the result.
    std::string convert(const std::string& bytes, int from, int to) {
        write_file(dir / "in", bytes);
        std::error_code ignored;
        fs::remove(dir / "out", ignored);
        run(answers("in", from, "out", to));
        return read_file(dir / "out");
    }

    ScratchDir dir;
};

// The whole text as one mode-0 encoding, however the program's reads fall.
std::string encode_whole(const std::string& viscii) {
    std::vector<unsigned char> out(3 * viscii.size() + 1);
    const std::size_t n = viqr_encode_run(reinterpret_cast<const unsigned char*>(viscii.data()),
                                          viscii.size(), 0, out.data(), '\\');
    return {reinterpret_cast<const char*>(out.data()), n};
}

std::string recode(const std::string& bytes, int from, int to) {
    std::string out = bytes;
    for (char& c : out) c = char(recode_byte(static_cast<unsigned char>(c), from, to));
    return out;
}

// Every letter byte of format f once (the first of a shared byte), then the bytes that
// every format passes unchanged: tab, line feed, carriage return and printable ASCII
// (which in some formats are letters too).
std::string letters_and_ascii(int f) {
    std::string text;
    for (std::size_t p = 0; p < kLetterCount; ++p)
        if (text.find(char(letter_table[f][p])) == std::string::npos)
            text += char(letter_table[f][p]);
    text += "\t\n\r";
    for (int c = 0x20; c < 0x7F; ++c) text += char(c);
    return text + "dd DD Dd a'a\\'" + "\n";
}

TEST_F(Viqr, SampleFilesConvertBothWays) {
    const std::string viqr = read_file(kExamples / "sample.viqr");
    const std::string viscii = read_file(kExamples / "sample.viscii");
    const std::string vni = read_file(kExamples / "sample.vni");
    ASSERT_FALSE(viqr.empty());
    EXPECT_EQ(convert(viqr, 10, 0), viscii);
    EXPECT_EQ(convert(viqr, 10, 3), vni);
    EXPECT_EQ(convert(viscii, 0, 10), viqr);
    EXPECT_EQ(convert(vni, 3, 10), viqr);
    EXPECT_EQ(convert(viqr, 10, 9), recode(viscii, 0, 9));
}

TEST_F(Viqr, EveryFormatConvertsToViqrThroughVisciiAndBack) {
    for (int f = 0; f <= 8; ++f) {
        SCOPED_TRACE(f);
        const std::string text = letters_and_ascii(f);
        const std::string viqr = convert(text, f, 10);
        EXPECT_EQ(viqr, encode_whole(recode(text, f, 0)));
        for (char c : viqr) EXPECT_LT(static_cast<unsigned char>(c), 0x80);
        EXPECT_EQ(convert(viqr, 10, f), text) << "round trip";
    }
}

TEST_F(Viqr, AnyVisciiFileComesBackByteForByte) {
    std::string bytes;
    for (int b = 0; b < 256; ++b) bytes += char(b);
    for (int b = 0; b < 256; ++b) bytes += std::string(1, char(b)) + '\0' + char(255 - b);
    std::mt19937 random(1456);
    for (int i = 0; i < 200000; ++i) bytes += char(random() & 0xFF);
    // Letters and marks in the runs a composing reader must not join.
    const char runs[] = "ad'\\^(+.?~`eDd\xF0\xD0";
    for (int i = 0; i < 20000; ++i) bytes += runs[random() % (sizeof runs - 1)];
    const std::string viqr = convert(bytes, 0, 10);
    EXPECT_EQ(viqr, encode_whole(bytes));
    EXPECT_EQ(convert(viqr, 10, 0), bytes);
}

TEST_F(Viqr, ChunkBoundariesAreInvisibleWritingViqr) {
    // Pairs that need an escape, or a mark that needs none, straddle the 1 KiB reads.
    const std::string sample = "dd a' \xE2' \\ d\xF0 \xE1' a\\' \x02?";
    for (std::size_t lead = 1020 - sample.size(); lead <= 1026; ++lead) {
        SCOPED_TRACE(lead);
        const std::string text = std::string(lead, 'x') + sample + std::string(1500, 'a') + sample;
        EXPECT_EQ(convert(text, 0, 10), encode_whole(text));
    }
}

TEST_F(Viqr, NulBytesPassBothWays) {
    const std::string text = std::string("a\0'b\0\0d\0d\xE1\0", 12) + std::string(3000, '\0') + "z";
    const std::string viqr = convert(text, 0, 10);
    EXPECT_EQ(viqr, std::string("a\0'b\0\0d\0d"
                                "a'\0",
                                13) +
                        std::string(3000, '\0') + "z");
    EXPECT_EQ(convert(viqr, 10, 0), text);
}

TEST_F(Viqr, ReadingExamples) {
    struct Case {
        const char* name;
        std::string viqr;
        int to;
        std::string expected;
    } cases[] = {
        {"empty", "", 0, ""},
        {"viet to VISCII", "Vie^.t", 0, "Vi\xAEt"},
        {"viet to plain", "Vie^.t", 9, "Viet"},
        {"viet to VNI", "Vie^.t", 3,
         "Vi\xAC"
         "t"},
        {"ends in a base letter", "ba", 0, "ba"},
        {"ends in a shaped letter", "ba^", 0, "b\xE2"},
        {"marks across the chunk boundary", std::string(1023, 'x') + "a'", 0,
         std::string(1023, 'x') + "\xE1"},
        {"shape and tone across the boundary", std::string(1022, 'x') + "a^'", 0,
         std::string(1022, 'x') + "\xA4"},
        {"stroke across the boundary", std::string(1023, 'x') + "dd", 0,
         std::string(1023, 'x') + "\xF0"},
        {"escape across the boundary", std::string(1023, 'x') + "\\'", 0,
         std::string(1023, 'x') + "'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(convert(c.viqr, 10, c.to), c.expected);
    }
}

TEST_F(Viqr, EveryInputStartsAfreshInOneRun) {
    // Each file leaves the reader in another state; the file after it must not notice.
    const std::pair<std::string, std::string> files[] = {
        {"held", "ba"},
        {"literal", "\\Lab"},
        {"pass", "\\Mx"},
        {"escape", "ab\\"},
        {"pass_escape", "\\Mab\\"},
        {"literal_escape", "\\Lab\\"},
        {"held_after_escape", "\\M\\a^"},
    };
    write_file(dir / "next", "a'\\Vdd");
    std::string session;
    for (const auto& [name, viqr] : files) {
        write_file(dir / name, viqr);
        session += answers(name, 10, name + ".out", 0) + answers("next", 10, name + ".next", 0);
    }
    run(session + answers("next", 10, "again", 0));
    const std::pair<std::string, std::string> expected[] = {
        {"held", "ba"},
        {"literal", "ab"},
        {"pass", "x"},
        {"escape", "ab\\"},
        {"pass_escape", "ab\\"},
        {"literal_escape", "ab\\"},
        {"held_after_escape", "\xE2"},
    };
    for (const auto& [name, out] : expected) {
        SCOPED_TRACE(name);
        EXPECT_EQ(read_file(dir / (name + ".out")), out);
        EXPECT_EQ(read_file(dir / (name + ".next")), "\xE1\xF0");
    }
    EXPECT_EQ(read_file(dir / "again"), "\xE1\xF0");
}

}  // namespace
}  // namespace toneshift::testing
