#include "viqr/encoder/viqr_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

namespace toneshift {
namespace {

using namespace std::string_literals;

const unsigned char* bytes(const std::string& s) {
    return reinterpret_cast<const unsigned char*>(s.c_str());
}

// Encodes a text without NUL into a buffer of exactly the size the mode needs, so that the
// sanitizer catches a write past the bound; checks the terminating NUL and the count.
std::string encode(const std::string& text, int mode, unsigned char escape_char = '\\') {
    std::vector<unsigned char> out((mode == 1 ? 4 : 3) * text.size() + 1, 0xAA);
    const int n = viqr_encode(bytes(text), out.data(), escape_char, mode);
    EXPECT_GE(n, 0);
    EXPECT_LT(std::size_t(n), out.size());
    if (n < 0 || std::size_t(n) >= out.size()) return {};
    EXPECT_EQ(out[std::size_t(n)], 0) << "terminating NUL";
    return std::string(out.begin(), out.begin() + n);
}

std::string encode_run(const std::string& text, unsigned char previous,
                       unsigned char escape_char = '\\') {
    std::vector<unsigned char> out(3 * text.size());
    const std::size_t n =
        viqr_encode_run(bytes(text), text.size(), previous, out.data(), escape_char);
    EXPECT_LE(n, out.size());
    return std::string(out.begin(), out.begin() + std::ptrdiff_t(std::min(n, out.size())));
}

struct Example {
    int mode;
    std::string text;
    std::string expected;
};

// Mode 0 and mode 1 with the escape character "\\"; letter bytes by value.
const Example examples[] = {
    {0, "a'", "a\\'"},
    {1, "a'", "a'"},
    {0, "y.", "y\\."},
    {0, "A'", "A\\'"},
    // A shape mark after any vowel without one, whether or not the pair names a letter.
    {0, "a(", "a\\("},
    {0, "a^", "a\\^"},
    {0, "a+", "a\\+"},
    {0, "i^", "i\\^"},
    {0, "t'", "t'"},
    // A mark of a kind the letter byte already carries, or of the other kind.
    {0, "\xE1'", "a''"},
    {0, "\xE1(", "a'\\("},
    {0, "\xE5'", "a(\\'"},
    {0, "\xE5(", "a(("},
    {0, "\xE2'", "a^\\'"},
    {0, "\xC2'", "A^\\'"},
    {0, "\xA4'", "a^''"},
    {0, "a''", "a\\''"},
    {0, "dd", "d\\d"},
    {0, "ddd", "d\\d\\d"},
    {0, "Dd", "D\\d"},
    {0, "dD", "d\\D"},
    {1, "dd", "dd"},
    {1, "ddd", "ddd"},
    {1, "Dd", "Dd"},
    {1, "dD", "dD"},
    // The d with stroke does not set off the d test; after a plain "d" it is escaped, since
    // "ddd" reads back as the d with stroke followed by "d".
    {0,
     "\xF0"
     "d",
     "ddd"},
    {0, "d\xF0", "d\\dd"},
    {0, "D\xD0", "D\\DD"},
    {0, "d\xD0", "d\\DD"},
    {0,
     "d\xF0"
     "d",
     "d\\ddd"},
    {1,
     "\xF0"
     "d",
     "\\ddd"},
    {1, "d\xF0", "d\\dd"},
    {1, "D\xD0", "D\\DD"},
    {0, "\\", "\\\\"},
    {1, "\\", "\\\\"},
    {0, "a\\'", "a\\\\'"},
    {0, "\xA4\xD0\xDF\xB3", "a^'DDu+O+~"},
    {1, "\xA4\xD0\xDF\xB3", "\\a^'\\DD\\u+\\O+~"},
    {0, "\xF0'", "dd'"},
    {1, "\xF0'", "\\dd'"},
    {0, "\x01\x07\x7F", "\x01\x07\x7F"},
    {1, "\x01\x07\x7F", "\x01\x07\x7F"},
    {0, "", ""},
    {1, "", ""},
};

TEST(ViqrEncode, Examples) {
    for (const Example& e : examples) {
        SCOPED_TRACE(testing::Message() << "mode " << e.mode << " text \"" << e.text << "\"");
        EXPECT_EQ(encode(e.text, e.mode), e.expected);
    }
}

TEST(ViqrEncode, TheEscapeCharacterIsTheCallers) {
    EXPECT_EQ(encode("a'#d\xF0\\", 0, '#'), "a#'##d#dd\\");
    EXPECT_EQ(encode("#\xE1\\", 1, '#'), "###a'\\");
    // An escape character of the text is doubled as it stands, not as its spelling.
    EXPECT_EQ(encode("\xE1\xE2", 0, 0xE1),
              "\xE1\xE1"
              "a^");
}

TEST(ViqrEncode, EmptyTextWritesALoneNul) {
    for (int mode : {0, 1}) {
        unsigned char out[4] = {0xAA, 0xAA, 0xAA, 0xAA};
        EXPECT_EQ(viqr_encode(bytes(""), out, '\\', mode), 0);
        EXPECT_EQ(out[0], 0);
        EXPECT_EQ(out[1], 0xAA);
    }
}

TEST(ViqrEncode, OtherModesWriteNothing) {
    for (int mode : {2, -1, 7, INT_MIN, INT_MAX}) {
        SCOPED_TRACE(mode);
        std::vector<unsigned char> out(16, 0xAA);
        EXPECT_EQ(viqr_encode(bytes("a'dd\xE1"), out.data(), '\\', mode), 0);
        EXPECT_EQ(out, std::vector<unsigned char>(16, 0xAA));
        EXPECT_EQ(viqr_encode(bytes(""), out.data(), '\\', mode), 0);
        EXPECT_EQ(out, std::vector<unsigned char>(16, 0xAA));
    }
}

TEST(ViqrEncode, NothingIsEscapedAcrossCalls) {
    EXPECT_EQ(encode("a", 0) + encode("'", 0), "a'");
    EXPECT_EQ(encode("d", 0) + encode("d", 0), "dd");
}

TEST(ViqrEncode, StopsAtTheFirstNul) {
    EXPECT_EQ(encode("a'\0dd"s, 0), "a\\'");
    EXPECT_EQ(encode("\xE1\0\xE1"s, 1), "\\a'");
}

// Every text of one or two bytes other than NUL, in both modes.
template <typename Check>
void for_every_short_text(Check check) {
    for (unsigned first = 1; first < 256; ++first)
        for (unsigned second = 0; second < 256; ++second) {
            std::string text(1, char(first));
            if (second != 0) text += char(second);
            for (int mode : {0, 1}) check(text, mode, encode(text, mode));
        }
}

TEST(ViqrEncode, OutputIsSevenBitForEveryShortText) {
    for_every_short_text([](const std::string& text, int mode, const std::string& out) {
        for (unsigned char c : out)
            if (c >= 0x80) {
                FAIL() << "mode " << mode << " text " << std::hex << int((unsigned char)text[0])
                       << " " << (text.size() > 1 ? int((unsigned char)text[1]) : -1) << " gives 0x"
                       << int(c);
            }
    });
}

TEST(ViqrEncode, EscapesOpenOnlyTheirOwnPairs) {
    const std::string marks = "(^+'`?~.";
    const std::string first_letters = "aeiouydAEIOUYD";
    for_every_short_text([&](const std::string& text, int mode, const std::string& out) {
        for (std::size_t i = 0; i < out.size(); ++i) {
            if (out[i] != '\\') continue;
            ASSERT_LT(i + 1, out.size()) << "escape at the end; mode " << mode;
            const char next = out[++i];
            const bool allowed =
                next == '\\' ||
                (mode == 0 ? next == 'd' || next == 'D' || marks.find(next) != std::string::npos
                           : first_letters.find(next) != std::string::npos);
            ASSERT_TRUE(allowed) << "mode " << mode << " output \"" << out << "\" from " << std::hex
                                 << int((unsigned char)text[0]);
        }
    });
}

TEST(ViqrEncodeRun, EqualsViqrEncodeOnTextsWithoutNul) {
    for (const Example& e : examples) {
        if (e.mode != 0) continue;
        SCOPED_TRACE(e.text);
        EXPECT_EQ(encode_run(e.text, 0), encode(e.text, 0));
    }
}

TEST(ViqrEncodeRun, FirstByteIsJudgedByThePreviousByte) {
    const struct {
        unsigned char previous;
        std::string text;
        std::string expected;
    } cases[] = {
        {'a', "'", "\\'"},  {'d', "d", "\\d"}, {'D', "\xD0", "\\DD"},
        {0xE2, "'", "\\'"}, {0xE5, "(", "("},  {'\\', "'", "'"},
        {'t', "'", "'"},    {0xF0, "d", "d"},  {0, "'", "'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "previous 0x" << std::hex << int(c.previous));
        EXPECT_EQ(encode_run(c.text, c.previous), c.expected);
    }
}

TEST(ViqrEncodeRun, NulBytesAreKeptAndEncodingGoesOn) {
    const std::pair<std::string, std::string> cases[] = {
        {"a\0'"s, "a\0'"s}, {"a'\0dd"s, "a\\'\0d\\d"s},          {"\0\0"s, "\0\0"s},
        {"d\0d"s, "d\0d"s}, {"\0\xE1\0\xA4\0"s, "\0a'\0a^'\0"s}, {"\\\0\\"s, "\\\\\0\\\\"s},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(testing::Message() << text.size() << "-byte text");
        EXPECT_EQ(encode_run(text, 0), expected);
    }
    // Not even a NUL escape character doubles them.
    EXPECT_EQ(encode_run("a\0b"s, 0, 0), "a\0b"s);
}

TEST(ViqrEncodeRun, SplittingTheTextAnywhereChangesNothing) {
    // The troublesome pairs sit across the chunk boundaries near 1023.
    std::string text(1018, 'x');
    text += "dd a' \xE2' \\\\ d\xF0 a( \xE1'";
    for (int i = 0; i < 40; ++i) text += "Vie\xA9t \\ dd";
    const std::string whole = encode(text, 0);
    ASSERT_NE(whole.find("d\\d a\\' a^\\' \\\\\\\\ d\\dd a\\( a''"), std::string::npos);
    for (std::size_t split = 0; split <= text.size(); ++split) {
        const std::string head = text.substr(0, split);
        const std::string tail = text.substr(split);
        const unsigned char previous = split == 0 ? 0 : static_cast<unsigned char>(text[split - 1]);
        ASSERT_EQ(encode_run(head, 0) + encode_run(tail, previous), whole) << "split at " << split;
    }
    std::string by_byte;
    unsigned char previous = 0;
    for (char c : text) {
        by_byte += encode_run(std::string(1, c), previous);
        previous = static_cast<unsigned char>(c);
    }
    EXPECT_EQ(by_byte, whole);
}

TEST(ViqrEncodeRun, EmptyRunWritesNothing) {
    unsigned char out[2] = {0xAA, 0xAA};
    EXPECT_EQ(viqr_encode_run(bytes(""), 0, 'a', out, '\\'), 0u);
    EXPECT_EQ(out[0], 0xAA);
}

}  // namespace
}  // namespace toneshift
