// End-to-end runs of the built program on answers that no one should type but someone will:
// NUL bytes, very long lines, binary junk, terminal escape sequences, numbers hundreds of
// digits long, and input that ends anywhere in a session. Whatever the answers, the program
// must end by itself with status 0 and write no file that the answers did not name.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "program.h"

namespace toneshift::testing {
namespace {

namespace fs = std::filesystem;

using namespace std::string_literals;

// "Viet nam" with the e with circumflex and dot below, in VISCII, VNI and VIQR.
const std::string kViscii = "Vi\xAEt nam\n";
const std::string kVni = "Vi\xAC"s + "t nam\n";
const std::string kViqr = "Vie^.t nam\n";

// Every file under a directory, by its path relative to it, with its contents.
std::map<std::string, std::string> files_in(const fs::path& dir) {
    std::map<std::string, std::string> files;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(dir)) {
        const std::string name = fs::relative(e.path(), dir).string();
        files[name] = e.is_regular_file() ? read_file(e.path()) : "<not a regular file>";
    }
    return files;
}

// The names that the answers can give: the first word of every line short enough to be an
// answer (254 characters at most), as the dialogue takes it: leading white space skipped,
// ending at white space or a NUL byte.
std::set<std::string> names_in(const std::string& answers) {
    std::set<std::string> names;
    std::size_t start = 0;
    while (start < answers.size()) {
        std::size_t end = answers.find('\n', start);
        if (end == std::string::npos) end = answers.size();
        const std::string line = answers.substr(start, end - start);
        start = end + 1;
        if (line.size() > 254) continue;
        const auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
        std::size_t i = 0;
        while (i < line.size() && blank(line[i])) ++i;
        std::size_t j = i;
        while (j < line.size() && !blank(line[j]) && line[j] != '\0') ++j;
        if (j > i) names.insert(line.substr(i, j - i));
    }
    return names;
}

class Hostile : public ::testing::Test {
  protected:
    void SetUp() override { write_file(dir / "in", kViscii); }

    // Runs the program on `answers` and checks what must hold for any answers: it ends by
    // itself with status 0, and every file that is new or changed has a name that one of
    // the answers gave. Returns the run for further checks.
    ProgramRun run(const std::string& answers) {
        const auto before = files_in(dir.path());
        ProgramRun r = run_toneshift(answers, dir.path(), false, {}, {}, 30);
        EXPECT_FALSE(r.timed_out);
        EXPECT_EQ(r.status, 0);
        const std::set<std::string> asked = names_in(answers);
        for (const auto& [name, bytes] : files_in(dir.path())) {
            const auto was = before.find(name);
            if (was != before.end() && was->second == bytes) continue;
            EXPECT_TRUE(asked.count(name)) << "wrote \"" << name << "\", which no answer named";
        }
        for (const auto& [name, bytes] : before)
            EXPECT_TRUE(fs::exists(dir / name)) << "removed \"" << name << "\"";
        return r;
    }

    std::string contents(const std::string& name) { return read_file(dir / name); }
    bool exists(const std::string& name) { return fs::exists(dir / name); }

    ScratchDir dir;
};

// Bytes that look like nothing, the same on every run.
std::string junk(std::size_t n, std::uint32_t seed) {
    std::string bytes;
    for (std::size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes += static_cast<char>(seed >> 23);
    }
    return bytes;
}

struct HostileCase {
    const char* name;
    std::string answers;
    // The conversions that the answers do ask for: output name and contents. No other file
    // may appear.
    std::map<std::string, std::string> written;
};

class HostileAnswers : public Hostile, public ::testing::WithParamInterface<HostileCase> {};

TEST_P(HostileAnswers, EndWithStatusZeroWritingOnlyWhatWasAskedFor) {
    const HostileCase& c = GetParam();
    run(c.answers);
    for (const auto& [name, bytes] : c.written) {
        EXPECT_TRUE(exists(name)) << name;
        EXPECT_EQ(contents(name), bytes) << name;
    }
    std::map<std::string, std::string> expected = c.written;
    expected["in"] = kViscii;
    EXPECT_EQ(files_in(dir.path()), expected);
}

const std::string kLong(10000, 'x');
const std::string kEscapes =
    "\x1B[2J\x1B[H\x1B]0;owned\x07\x1B[31m\x9B"
    "6n\x1BP+q\x1B\\\r";

INSTANTIATE_TEST_SUITE_P(
    Answers, HostileAnswers,
    ::testing::Values(
        // A NUL byte ends the word at once; what follows it on the line is ignored.
        HostileCase{"nul_inside_lines",
                    "in\0junk\n0\0"
                    "9\nout\0evil\n3\0\n\n"s,
                    {{"out", kVni}}},
        HostileCase{"nul_at_line_start", "\0in\n0\nout\n3\n"s, {}},
        HostileCase{"nul_only_answers", "in\n\0\n\0\n0\n\0\nout\n\0\n3\n\n"s, {{"out", kVni}}},
        // Longer than an answer can be: each counts as empty and is read again, or ends.
        HostileCase{"lines_of_10000_characters",
                    "in\n" + kLong + "\n0\n" + kLong + "\nout\n" + kLong + "\n3\n" + kLong + "\n",
                    {{"out", kVni}}},
        HostileCase{"first_answer_of_10000_characters", kLong + "\nin\n0\nout\n3\n", {}},
        HostileCase{"line_of_10000_blanks",
                    "in\n0\nout\n3\n" + std::string(10000, ' ') + "\n",
                    {{"out", kVni}}},
        HostileCase{"line_of_a_mebibyte_without_newline", std::string(1 << 20, 'y'), {}},
        // Nothing that any answer names as an input exists, so nothing may be written.
        HostileCase{"binary_junk", junk(1 << 16, 1), {}},
        HostileCase{"binary_junk_with_newlines", junk(1 << 16, 2) + "\n" + junk(4000, 3), {}},
        HostileCase{"junk_after_a_valid_input", "in\n0\n" + junk(1 << 14, 4), {}},
        HostileCase{"carriage_returns", "in\r\n0\r\nout\r\n3\r\n\r\n", {{"out", kVni}}},
        // Names made of terminal escape sequences are names like any other.
        HostileCase{"escape_sequences_as_input_name", kEscapes + "\n0\nout\n3\n\n", {}},
        HostileCase{"escape_sequences_as_output_name",
                    "in\n0\n" + kEscapes + "\n10\n\n",
                    {{kEscapes.substr(0, kEscapes.size() - 1), kViqr}}},
        // Hundreds of digits (as many as an answer holds): too large for an int, out of range
        // whatever the sign; leading zeros before a small number keep its value.
        HostileCase{"numbers_of_hundreds_of_digits",
                    "in\n" + std::string(254, '9') + "\nout1\n3\n" +  //
                        "in\n-" + std::string(253, '9') + "\nout2\n3\n" + "in\n0\nout3\n" +
                        std::string(254, '7') + "\n" + "in\n+" + std::string(253, '0') +
                        "\nout4\n" + std::string(253, '0') + "3\n\n",
                    {{"out4", kVni}}}),
    [](const ::testing::TestParamInfo<HostileCase>& info) { return info.param.name; });

TEST_F(Hostile, HugeNumbersAreReportedAsTheLargestInts) {
    const ProgramRun r =
        run("in\n" + std::string(254, '9') + "\nout\n-" + std::string(253, '8') + "\n\n");
    EXPECT_EQ(r.out, session_output(1));
    EXPECT_EQ(r.err,
              "the format number (2147483647) of input file is out of range [0 - 10]\n"
              "the format number (-2147483648) of output file is out of range [0 - 10]\n");
    EXPECT_FALSE(exists("out"));
}

TEST_F(Hostile, EscapeSequencesInANameReachOnlyTheComplaint) {
    const ProgramRun r = run(kEscapes + "\n0\nout\n3\n\n");
    EXPECT_EQ(r.out, session_output(1));
    const std::string name = kEscapes.substr(0, kEscapes.size() - 1);  // up to the blank \r
    EXPECT_EQ(r.err, "cannot access \"" + name + "\"\n");
}

// A session of three conversions (to VNI, over it to VIQR after the overwrite question, and
// that VIQR back to VISCII), cut after every byte: each conversion happens exactly when its
// last answer has arrived, and what it writes is whole.
TEST_F(Hostile, EndOfInputAfterEveryByteOfASession) {
    const std::string to_vni = answers("in", 0, "out", 3);
    const std::string to_viqr = answers("in", 0, "out", 10) + "y\n";
    const std::string back = answers("out", 10, "back", 0);
    const std::string session = to_vni + to_viqr + back + "\n";
    // The length of input after which each conversion has its last answer.
    const std::size_t vni_at = to_vni.size() - 1;                    // the "3"
    const std::size_t viqr_at = to_vni.size() + to_viqr.size() - 1;  // the "y"
    const std::size_t back_at = to_vni.size() + to_viqr.size() + back.size() - 1;
    for (std::size_t cut = 0; cut <= session.size(); ++cut) {
        SCOPED_TRACE("input cut after " + std::to_string(cut) + " bytes");
        std::error_code ignored;
        fs::remove(dir / "out", ignored);
        fs::remove(dir / "back", ignored);
        run(session.substr(0, cut));
        if (cut < vni_at) {
            EXPECT_FALSE(exists("out"));
        } else {
            EXPECT_EQ(contents("out"), cut < viqr_at ? kVni : kViqr);
        }
        if (cut < back_at) {
            EXPECT_FALSE(exists("back"));
        } else {
            EXPECT_EQ(contents("back"), kViscii);
        }
    }
}

}  // namespace
}  // namespace toneshift::testing
