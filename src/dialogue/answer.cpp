#include "dialogue/answer.h"

#include <climits>
#include <cstdint>

namespace toneshift {
namespace {

// White space as the C locale knows it, whatever locale the process runs in.
bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

AnswerRead read_answer(std::FILE* in, char* line, std::size_t size) {
    std::size_t length = 0;
    bool too_long = false;
    int c = std::getc(in);
    if (c == EOF) {
        line[0] = '\0';
        return AnswerRead::kEndOfInput;
    }
    for (; c != EOF && c != '\n'; c = std::getc(in)) {
        if (length + 1 < size) {
            line[length++] = static_cast<char>(c);
        } else {
            too_long = true;  // keep consuming up to the newline
        }
    }
    line[too_long ? 0 : length] = '\0';
    return AnswerRead::kLine;
}

bool take_word(const char* line, char* word) {
    while (is_blank(*line)) ++line;
    if (*line == '\0') return false;
    while (*line != '\0' && !is_blank(*line)) *word++ = *line++;
    *word = '\0';
    return true;
}

bool take_number(const char* line, int& value) {
    while (is_blank(*line)) ++line;
    const bool negative = *line == '-';
    if (*line == '-' || *line == '+') ++line;
    if (*line < '0' || *line > '9') return false;
    std::int64_t magnitude = 0;
    const std::int64_t limit = std::int64_t(INT_MAX) + 1;  // enough to saturate either sign
    for (; *line >= '0' && *line <= '9'; ++line) {
        magnitude = magnitude * 10 + (*line - '0');
        if (magnitude > limit) magnitude = limit;
    }
    const std::int64_t signed_value = negative ? -magnitude : magnitude;
    value = signed_value > INT_MAX   ? INT_MAX
            : signed_value < INT_MIN ? INT_MIN
                                     : static_cast<int>(signed_value);
    return true;
}

}  // namespace toneshift
