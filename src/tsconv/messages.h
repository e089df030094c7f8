// What tsconv says: on standard error one line per message, each beginning "tsconv: ",
// and the texts of --help, --version and -l on standard output.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "convert/converter.h"

namespace toneshift::tsconv {

inline constexpr std::string_view kProgramName = "tsconv";

// The name of an input or output in messages: "(standard input)" for "-".
std::string display_name(std::string_view path);
std::string output_display_name(std::string_view path);

// A format as messages name it: its script name ("vnu-win", "utf-8").
std::string_view format_name(int format);

// The one-line usage that follows a usage error.
std::string usage_line();
std::string help_text();
std::string version_text();
// One line per format: number, name, the dialogue's menu name, aliases and what it lacks.
std::string format_list();
// "unknown format "X"; ..." with every name that would do.
std::string unknown_format_message(std::string_view name);

// A character or undefined input as messages show it: U+20AC "€" (the character itself
// only when it prints), or "undefined bytes 0xC3 0x28".
std::string describe_problem(const Problem& problem);
// What a problem became under --replace or --translit, in quotes (single ones around a
// double quote), or as U+XXXX when it does not print.
std::string describe_replacement(const Problem& problem);
// "NAME:LINE:COLUMN" for a problem of input NAME.
std::string problem_place(std::string_view input, const Problem& problem);

// UTF-8 bytes of one code point.
std::string utf8(char32_t c);

// Writes "tsconv: TEXT" and a line feed to standard error, clearing a progress line first.
void say(std::string_view text);

}  // namespace toneshift::tsconv
