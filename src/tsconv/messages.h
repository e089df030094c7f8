// What tsconv says: on standard error one line per message, each beginning "tsconv: ",
// and the texts of --help, --version and -l on standard output.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "convert/converter.h"
#include "detect/detect.h"

namespace toneshift::tsconv {

inline constexpr std::string_view kProgramName = "tsconv";

// A file name as messages show it, quoted as GNU ls --quoting-style=shell-escape quotes
// it (on a UTF-8 terminal): as it is when the shell needs no quotes for it; in single
// quotes when it holds a space or a character special to the shell ('a b.txt'), in double
// quotes when it holds a single quote and nothing else that double quotes would not keep
// ("it's"); a control character (C0, DEL, C1), a line or paragraph separator, a format
// character (bidirectional overrides, zero widths), an unassigned code point or a byte of
// invalid UTF-8 as $'\n' or octal $'\NNN' ('x'$'\n''fake.txt'). The result never holds a
// byte below 0x20 or 0x7F, so that a name can neither forge lines of output nor reach the
// terminal as an escape sequence. Valid, printable UTF-8 (Vietnamese) stays as it is.
std::string quote_name(std::string_view name);
// Whether `text` shows as itself on a terminal and in a log: valid UTF-8 without control
// characters (C0, DEL, C1).
bool shows_as_itself(std::string_view text);

// The name of an input or output in messages: "(standard input)" for "-", or "(standard
// output)"; any other name through quote_name().
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
// What format `format` (0..11) cannot write, as the converter decides it, derived from the
// letter table: "@ ^ ` { | } ~", "6 control characters (U+0002 ...)", "50 capitals that
// share their small letter's byte", "diacritics (...)", joined by "; "; empty for none.
// Beyond it, every format but UTF-8 holds only ASCII and the 134 Vietnamese letters.
std::string format_lacks(int format);
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

// -f auto's refusal of an input that detection could not name a format for:
// "NAME: format unknown|mixed DETAILS; not converted (ADVICE)". For a mixed input, or one
// with candidates, the advice names each candidate as an option to give ("-f viscii or -f
// vni") and, for a mixed one, that its line ranges (which DETAILS list) are in different
// formats; "give -f FROM" alone only when there is no candidate. NAME as display_name().
std::string undecided_message(std::string_view name, const Detection& d);

// Writes "tsconv: TEXT" and a line feed to standard error, clearing a progress line first.
void say(std::string_view text);

}  // namespace toneshift::tsconv
