// tsconv --repair end to end: garbled files repaired into each destination, clean files
// copied byte for byte, letters lost by the garbling refused or written as U+FFFD.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "program.h"
#include "tsconv_program.h"

namespace toneshift::testing {
namespace {

// "Cộng hòa xã hội chủ nghĩa Việt Nam" and "Người bán hàng mời chúng tôi uống trà.", UTF-8.
const std::string kText =
    "C\xe1\xbb\x99ng h\xc3\xb2"
    "a x\xc3\xa3 h\xe1\xbb\x99i ch\xe1\xbb\xa7 ngh\xc4\xa9"
    "a "
    "Vi\xe1\xbb\x87t Nam\n"
    "Ng\xc6\xb0\xe1\xbb\x9di b\xc3\xa1n h\xc3\xa0ng m\xe1\xbb\x9di ch\xc3\xbang t\xc3\xb4i "
    "u\xe1\xbb\x91ng tr\xc3\xa0.\n";

// Removes the UTF-8 of the C1 controls U+0081, U+008D, U+008F, U+0090 and U+009D: what a
// Windows-1252 reading leaves of the bytes it has no character for.
std::string drop_lost_bytes(std::string s) {
    for (const char* c1 : {"\xc2\x81", "\xc2\x8d", "\xc2\x8f", "\xc2\x90", "\xc2\x9d"})
        for (std::size_t at = s.find(c1); at != std::string::npos; at = s.find(c1)) s.erase(at, 2);
    return s;
}

class TsconvRepair : public ::testing::Test {
  protected:
    void SetUp() override {
        garbled_ = iconv(kText, "ISO-8859-1", "UTF-8");  // UTF-8 bytes read as Latin-1
        ASSERT_NE(garbled_, kText);
        write_file(dir_ / "garbled.txt", garbled_);
        write_file(dir_ / "clean.txt", "\xEF\xBB\xBF" + kText);
        // Once their last byte is lost, "ờ" alone could be five letters and "mời" also "mọi";
        // "trường" can only be itself.
        write_file(dir_ / "lossy.txt",
                   drop_lost_bytes(iconv(kText + "T\xc3\xb4i \xe1\xbb\x9d tr\xc6\xb0\xe1\xbb\x9d"
                                                 "ng.\n",
                                         "ISO-8859-1", "UTF-8")));
    }
    ProgramRun run(const std::vector<std::string>& arguments, const std::string& input = "") {
        TsconvSetup setup;
        setup.input = input;
        setup.dir = dir_.path();
        return run_tsconv(arguments, setup);
    }
    ScratchDir dir_;
    std::string garbled_;
};

TEST_F(TsconvRepair, RepairsIntoEachDestination) {
    const ProgramRun out = run({"--repair", "garbled.txt"});
    EXPECT_EQ(out.status, 0) << out.err;
    EXPECT_EQ(out.out, kText);
    EXPECT_EQ(out.err,
              "tsconv: garbled.txt: repaired lines 1-2 (utf-8 read as latin-1): 16 characters "
              "outside ASCII\n");

    const ProgramRun to_file = run({"--repair", "-q", "-o", "fixed.txt", "garbled.txt"});
    EXPECT_EQ(to_file.status, 0) << to_file.err;
    EXPECT_EQ(to_file.err, "");
    EXPECT_EQ(read_file(dir_ / "fixed.txt"), kText);

    std::filesystem::create_directory(dir_ / "out");
    const ProgramRun to_dir = run({"--repair", "-d", "out", "garbled.txt", "clean.txt"});
    EXPECT_EQ(to_dir.status, 0) << to_dir.err;
    EXPECT_EQ(read_file(dir_ / "out" / "garbled.txt"), kText);
    EXPECT_EQ(read_file(dir_ / "out" / "clean.txt"), "\xEF\xBB\xBF" + kText);

    const ProgramRun into_viscii = run({"--repair", "-t", "viscii", "garbled.txt"});
    EXPECT_EQ(into_viscii.status, 0) << into_viscii.err;
    EXPECT_EQ(into_viscii.out, iconv(kText, "UTF-8", "VISCII"));

    // UTF-16 with a byte-order mark is read as such without -f, and written back so.
    write_file(dir_ / "garbled16.txt", iconv(garbled_, "UTF-8", "UTF-16"));
    const ProgramRun utf16 = run({"--repair", "garbled16.txt"});
    EXPECT_EQ(utf16.status, 0) << utf16.err;
    EXPECT_EQ(utf16.out, iconv(kText, "UTF-8", "UTF-16"));
    const ProgramRun detected = run({"--repair", "-f", "auto", "-t", "utf-8", "garbled16.txt"});
    EXPECT_EQ(detected.out, kText) << detected.err;

    const ProgramRun in_place = run({"--repair", "-i", "garbled.txt"});
    EXPECT_EQ(in_place.status, 0) << in_place.err;
    EXPECT_EQ(read_file(dir_ / "garbled.txt"), kText);
}

// Clean text comes out as it went in, its byte-order mark kept, and nothing is said but so.
TEST_F(TsconvRepair, CleanTextIsCopiedByteForByte) {
    const std::string others[] = {"The quick brown fox.\n",
                                  "Le gar\xc3\xa7on \xc3\xa9tait l\xc3\xa0.\n",
                                  "ho\xc3\xa0 b\xc3\xacnh, thu\xe1\xbb\xb7 tri\xe1\xbb\x81u\n"};
    for (const std::string& text : others) {
        const ProgramRun r = run({"--repair"}, text);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, text);
        EXPECT_EQ(r.err, "tsconv: (standard input): nothing to repair\n");
    }
    const ProgramRun r = run({"--repair", "clean.txt"});
    EXPECT_EQ(r.out, "\xEF\xBB\xBF" + kText);
}

// A letter the garbling lost and its syllable cannot tell is a loss: refused by default
// (nothing written, the original kept under -i), written as U+FFFD with --replace.
TEST_F(TsconvRepair, ALetterThatCannotBeRecoveredIsALoss) {
    const std::string before = read_file(dir_ / "lossy.txt");
    const ProgramRun refused = run({"--repair", "-o", "out.txt", "lossy.txt"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("lossy.txt:2:17: a letter lost by the garbling cannot be recovered"),
              std::string::npos)
        << refused.err;
    EXPECT_FALSE(std::filesystem::exists(dir_ / "out.txt"));

    const ProgramRun in_place = run({"--repair", "-i", "lossy.txt"});
    EXPECT_EQ(in_place.status, 1);
    EXPECT_EQ(read_file(dir_ / "lossy.txt"), before);

    const ProgramRun replaced = run({"--repair", "--replace", "lossy.txt"});
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    std::string expected = kText;
    expected.replace(expected.find("m\xe1\xbb\x9di"), 5, "m\xef\xbf\xbdi");
    EXPECT_EQ(replaced.out, expected +
                                "T\xc3\xb4i \xef\xbf\xbd tr\xc6\xb0\xe1\xbb\x9d"
                                "ng.\n");
    EXPECT_NE(replaced.err.find("2 letters lost by the garbling left as U+FFFD, the first at line "
                                "2, column 17"),
              std::string::npos)
        << replaced.err;

    const ProgramRun check = run({"--repair", "--check", "garbled.txt", "lossy.txt"});
    EXPECT_EQ(check.status, 1);
    EXPECT_NE(check.err.find("garbled.txt: would repair lines 1-2"), std::string::npos)
        << check.err;
    EXPECT_EQ(read_file(dir_ / "garbled.txt"), garbled_);
}

// --detect names a garbled file's state; -f auto alone never repairs.
TEST_F(TsconvRepair, DetectNamesTheGarbling) {
    const ProgramRun r = run({"--detect", "garbled.txt", "clean.txt"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "garbled.txt: utf-8 (utf-8 read as latin-1; tsconv --repair undoes it)\n"
              "clean.txt: utf-8 (valid UTF-8)\n");
    write_file(dir_ / "garbled16.txt", iconv(garbled_, "UTF-8", "UTF-16"));
    const ProgramRun utf16 = run({"--detect", "garbled16.txt"});
    EXPECT_EQ(utf16.out,
              "garbled16.txt: utf-16 (utf-8 read as latin-1; tsconv --repair undoes it)\n");
    const ProgramRun automatic = run({"-f", "auto", "-t", "utf-8", "garbled.txt"});
    EXPECT_EQ(automatic.status, 0) << automatic.err;
    EXPECT_EQ(automatic.out, garbled_);
}

TEST_F(TsconvRepair, OptionsThatDoNothingWithRepairAreRefused) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--repair", "--detect", "garbled.txt"},
          std::vector<std::string>{"--repair", "-r", "-d", "out", "."},
          std::vector<std::string>{"--repair", "--force", "garbled.txt"}}) {
        const ProgramRun r = run(args);
        EXPECT_EQ(r.status, 2) << args[1];
        EXPECT_NE(r.err.find("cannot be used together"), std::string::npos) << r.err;
    }
}

// hòa khỏe thủy, and the misplaced mark of họat.
TEST_F(TsconvRepair, ToneStyleAsTheTextConverts) {
    const std::string text =
        "H\xc3\xb2"
        "a, kh\xe1\xbb\x8f"
        "e, th\xe1\xbb\xa7y; h\xe1\xbb\x8d"
        "at\n";
    const ProgramRun to_new = run({"-f", "utf-8", "-t", "viscii", "--tone-style", "new"}, text);
    EXPECT_EQ(to_new.status, 0) << to_new.err;
    EXPECT_EQ(to_new.out, iconv("Ho\xc3\xa0, kho\xe1\xba\xbb, thu\xe1\xbb\xb7; h\xe1\xbb\x8d"
                                "at\n",
                                "UTF-8", "VISCII"));
    EXPECT_EQ(to_new.err,
              "tsconv: (standard input): 3 syllables with the tone mark moved (new style)\n");

    const ProgramRun fixed = run({"-f", "utf-8", "-t", "utf-8", "--fix-tones", "-q"}, text);
    EXPECT_EQ(fixed.status, 0) << fixed.err;
    EXPECT_EQ(fixed.out,
              "H\xc3\xb2"
              "a, kh\xe1\xbb\x8f"
              "e, th\xe1\xbb\xa7y; ho\xe1\xba\xa1t\n");
    EXPECT_EQ(fixed.err, "");

    const ProgramRun both = run({"--repair", "--tone-style", "old", "garbled.txt"});
    EXPECT_EQ(both.status, 0) << both.err;
    EXPECT_EQ(both.out, kText);  // h\xc3\xb2" "a is in the traditional style already

    const ProgramRun no_target = run({"--tone-style", "new"}, text);
    EXPECT_EQ(no_target.status, 2);
    const ProgramRun bad = run({"-f", "utf-8", "-t", "utf-8", "--tone-style", "modern"}, text);
    EXPECT_EQ(bad.status, 2);
}

// Faults found in review, each once a silent change or loss.
TEST_F(TsconvRepair, WhatNeedsNoRepairIsKeptByteForByte) {
    // A short line, then 5 MiB of bytes that are no UTF-8 and no line: once cut nowhere and
    // dropped, with -i emptying the file and status 0.
    const std::string binary = "x\n" + std::string(std::size_t(5) << 20, '\x80');
    write_file(dir_ / "binary.txt", binary);
    const ProgramRun in_place = run({"--repair", "-i", "binary.txt"});
    EXPECT_EQ(in_place.status, 0) << in_place.err;
    EXPECT_EQ(read_file(dir_ / "binary.txt"), binary);

    // Good text that Windows-1252 can hold: once read as TCVN3 shown as Windows-1252 ("S\xc3\xa8"
    // became "S\xe1\xbb\x91").
    const std::string text = "S\xc3\xa8 s\xc3\xa8\nCh\xc3\xa8, ch\xc3\xa8\n";
    const ProgramRun good = run({"--repair"}, text);
    EXPECT_EQ(good.out, text);

    // UTF-16 with a big-endian mark comes back big-endian (it came back little-endian).
    const std::string be = "\xFE\xFF" + iconv(kText, "UTF-8", "UTF-16BE");
    write_file(dir_ / "be.txt", be);
    const ProgramRun big = run({"--repair", "be.txt"});
    EXPECT_EQ(big.status, 0) << big.err;
    EXPECT_EQ(big.out, be);
}

// --replace applies to the reading too: a lone surrogate becomes U+FFFD, and is reported.
TEST_F(TsconvRepair, ReplaceAppliesToTheInputsOwnEncoding) {
    write_file(dir_ / "u.txt", std::string("\xFF\xFE"
                                           "a\0\0\xD8"
                                           "b\0\n\0",
                                           10));
    const ProgramRun refused = run({"--repair", "u.txt"});
    EXPECT_EQ(refused.status, 1);
    const ProgramRun replaced = run({"--repair", "--replace", "-t", "utf-8", "u.txt"});
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_EQ(replaced.out,
              "a\xEF\xBF\xBD"
              "b\n");
    EXPECT_NE(replaced.err.find("1 piece of input undefined in utf-16 replaced"), std::string::npos)
        << replaced.err;
}

}  // namespace
}  // namespace toneshift::testing
