// Reading the user's answers: bounded lines, and the first word or number of a line.
#pragma once

#include <cstddef>
#include <cstdio>

namespace toneshift {

enum class AnswerRead {
    kLine,        // a line was read; it may be empty
    kEndOfInput,  // input ended before any character; the answer is empty
};

// Reads one line of `in` into `line` (capacity `size`, at least 1), without its newline and
// NUL-terminated. A line of `size` characters or more is consumed up to its newline and
// leaves the answer empty; a last line without a newline is an answer.
AnswerRead read_answer(std::FILE* in, char* line, std::size_t size);

// Copies the first blank-separated word of `line` to `word` (capacity at least
// strlen(line) + 1). Returns false, leaving `word` as it was, when the line holds no word.
bool take_word(const char* line, char* word);

// Reads an optionally signed decimal number after optional blanks; reading stops at the first
// character that cannot continue it. A number beyond the range of int counts as INT_MAX or
// INT_MIN by its sign. Returns false, leaving `value` as it was, when there is no number.
bool take_number(const char* line, int& value);

}  // namespace toneshift
