#include "tsconv/messages.h"

#include <gtest/gtest.h>

namespace toneshift::tsconv {
namespace {

Problem loss(char32_t c) {
    Problem p;
    p.kind = Problem::Kind::kLoss;
    p.character = c;
    return p;
}

Problem undefined(std::initializer_list<unsigned char> bytes) {
    Problem p;
    p.kind = Problem::Kind::kUndefined;
    for (unsigned char b : bytes) p.bytes[p.byte_count++] = b;
    return p;
}

TEST(Messages, ProblemsShowCodePointCharacterOrBytes) {
    struct Case {
        Problem problem;
        std::string shown;
    };
    const Case cases[] = {
        {loss(U'\u20AC'), "U+20AC \"\xE2\x82\xAC\""},
        {loss(U'\u1EA0'), "U+1EA0 \"\xE1\xBA\xA0\""},
        {loss(U'@'), "U+0040 \"@\""},
        {loss(U'\U0001F600'), "U+1F600 \"\xF0\x9F\x98\x80\""},
        {loss(0x02), "U+0002"},    // a control character is not printed
        {loss(0x85), "U+0085"},    // nor a C1 control
        {loss(0x2028), "U+2028"},  // nor a line separator
        {loss(0xE000), "U+E000"},  // nor a private-use character
        {undefined({0x80}), "undefined byte 0x80"},
        {undefined({0xE1, 0xBA}), "undefined bytes 0xE1 0xBA"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.shown);
        EXPECT_EQ(describe_problem(k.problem), k.shown);
    }
}

TEST(Messages, ReplacementsAreQuotedAndPlacesCountFromOne) {
    Problem p = loss(U'\u201C');
    p.replacement[0] = U'"';
    p.replacement_size = 1;
    EXPECT_EQ(describe_replacement(p), "'\"'");
    p.replacement[0] = U'\uFFFD';
    EXPECT_EQ(describe_replacement(p), "\"\xEF\xBF\xBD\"");
    p.replacement[0] = '.';
    p.replacement[1] = '.';
    p.replacement[2] = '.';
    p.replacement_size = 3;
    EXPECT_EQ(describe_replacement(p), "\"...\"");

    p.line = 3;
    p.column = 14;
    EXPECT_EQ(problem_place("a b.txt", p), "a b.txt:3:14");
    EXPECT_EQ(problem_place("-", p), "(standard input):3:14");
}

}  // namespace
}  // namespace toneshift::tsconv
