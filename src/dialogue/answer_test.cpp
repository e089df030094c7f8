#include "dialogue/answer.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

namespace toneshift {
namespace {

// Reads every answer from `input` with the dialogue's size until the end of the input.
std::vector<std::string> answers_of(const std::string& input, std::size_t size = 255) {
    std::FILE* in = fmemopen(const_cast<char*>(input.data()), input.size(), "r");
    if (input.empty()) in = std::tmpfile();
    std::vector<std::string> answers;
    std::vector<char> line(size + 16, 'X');
    while (read_answer(in, line.data(), size) == AnswerRead::kLine)
        answers.emplace_back(line.data());
    EXPECT_EQ(line[0], '\0') << "end of input leaves an empty answer";
    std::fclose(in);
    return answers;
}

TEST(ReadAnswer, LengthLimitAndLineEnds) {
    const std::string a253(253, 'a'), a254(254, 'b'), a255(255, 'c');
    struct Case {
        std::string input;
        std::vector<std::string> expected;
    } cases[] = {
        {"", {}},
        {"\n", {""}},
        {"name\n", {"name"}},
        {"last line without newline", {"last line without newline"}},
        {a253 + "\n", {a253}},
        {a254 + "\n", {a254}},
        {a255 + "\nnext\n", {"", "next"}},  // too long: consumed and empty
        {a255, {""}},
        {std::string(10000, 'x') + "\nafter\n", {"", "after"}},
        {"two words\n\nthree\n", {"two words", "", "three"}},
        {std::string("nul\0inside\nok\n", 14), {"nul", "ok"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input.substr(0, 40));
        EXPECT_EQ(answers_of(c.input), c.expected);
    }
}

TEST(ReadAnswer, OverwriteAnswerSizeHolds1023Characters) {
    const std::string a1023(1023, 'y'), a1024(1024, 'y');
    EXPECT_EQ(answers_of(a1023 + "\n", 1024), std::vector<std::string>{a1023});
    EXPECT_EQ(answers_of(a1024 + "\n", 1024), std::vector<std::string>{""});
}

TEST(TakeWord, FirstWordOrNothing) {
    struct Case {
        const char* line;
        bool found;
        const char* word;
    } cases[] = {
        {"in.txt", true, "in.txt"}, {"  in.txt out.txt", true, "in.txt"},
        {"\tname\t", true, "name"}, {"   ", false, "previous"},
        {"", false, "previous"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        char word[256] = "previous";
        EXPECT_EQ(take_word(c.line, word), c.found);
        EXPECT_STREQ(word, c.word);
    }
}

TEST(TakeNumber, SignsTrailingTextAndOverflow) {
    struct Case {
        const char* line;
        bool found;
        int value;
    } cases[] = {
        {"3", true, 3},
        {"  10", true, 10},
        {"+7", true, 7},
        {"-1", true, -1},
        {"3abc", true, 3},
        {"12 13", true, 12},
        {"007", true, 7},
        {"2147483647", true, INT_MAX},
        {"-2147483648", true, INT_MIN},
        {"2147483648", true, INT_MAX},
        {"99999999999", true, INT_MAX},
        {"-99999999999", true, INT_MIN},
        {"-0", true, 0},
        {"abc", false, 42},
        {"", false, 42},
        {"   ", false, 42},
        {"+", false, 42},
        {"- 3", false, 42},
        {"x3", false, 42},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        int value = 42;
        EXPECT_EQ(take_number(c.line, value), c.found);
        EXPECT_EQ(value, c.value);
    }
    int value = 0;
    EXPECT_TRUE(take_number(std::string(300, '9').c_str(), value));  // hundreds of digits
    EXPECT_EQ(value, INT_MAX);
}

}  // namespace
}  // namespace toneshift
