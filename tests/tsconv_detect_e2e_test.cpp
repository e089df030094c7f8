// tsconv end to end: --detect and -f auto.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "program.h"
#include "tsconv_program.h"

namespace toneshift::testing {
namespace {

const std::filesystem::path kExamples = std::filesystem::path(TONESHIFT_SOURCE_DIR) / "examples";

class TsconvDetect : public ::testing::Test {
  protected:
    void SetUp() override {
        viscii_ = read_file(kExamples / "sample.viscii");
        ASSERT_FALSE(viscii_.empty());
        write_file(dir_ / "letter.viscii", viscii_);
        write_file(dir_ / "letter.vni", read_file(kExamples / "sample.vni"));
        write_file(dir_ / "letter.viqr", read_file(kExamples / "sample.viqr"));
        write_file(dir_ / "letter.utf8", iconv(viscii_, "VISCII", "UTF-8"));
        write_file(dir_ / "english.txt", "The quick brown fox jumps over the lazy dog.\n");
        std::mt19937 rng(3);
        std::string noise(2000, '\0');
        for (char& c : noise) c = char(rng());
        write_file(dir_ / "noise.bin", noise);
    }
    ProgramRun run(const std::vector<std::string>& arguments, const std::string& input = "") {
        TsconvSetup setup;
        setup.input = input;
        setup.dir = dir_.path();
        return run_tsconv(arguments, setup);
    }
    // The first word after "NAME: " on each line of `out`.
    static std::vector<std::string> formats(const std::string& out) {
        std::vector<std::string> words;
        std::size_t at = 0;
        while (at < out.size()) {
            const std::size_t end = out.find('\n', at);
            const std::string line = out.substr(at, end - at);
            const std::size_t colon = line.find(": ");
            const std::string rest = colon == std::string::npos ? "" : line.substr(colon + 2);
            words.push_back(line.substr(0, colon) + " " + rest.substr(0, rest.find(' ')));
            at = end == std::string::npos ? out.size() : end + 1;
        }
        return words;
    }
    ScratchDir dir_;
    std::string viscii_;
};

TEST_F(TsconvDetect, NamesTheFormatOfEachFileAndOfStandardInput) {
    const ProgramRun r = run({"--detect", "letter.viscii", "letter.vni", "letter.viqr",
                              "letter.utf8", "english.txt", "-"},
                             read_file(dir_ / "letter.vni"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::vector<std::string> expected = {
        "letter.viscii viscii", "letter.vni vni",    "letter.viqr viqr",
        "letter.utf8 utf-8",    "english.txt plain", "- vni",
    };
    EXPECT_EQ(formats(r.out), expected) << r.out;
}

TEST_F(TsconvDetect, UnknownMixedAndMissingFilesSetTheStatus) {
    const ProgramRun noise = run({"--detect", "letter.vni", "noise.bin"});
    EXPECT_EQ(noise.status, 1);
    EXPECT_EQ(formats(noise.out),
              (std::vector<std::string>{"letter.vni vni", "noise.bin unknown"}));

    // Ten copies of the letter in VISCII, then ten in VNI.
    std::string two_parts;
    for (int i = 0; i < 10; ++i) two_parts += viscii_;
    for (int i = 0; i < 10; ++i) two_parts += read_file(kExamples / "sample.vni");
    write_file(dir_ / "pasted.txt", two_parts);
    const ProgramRun mixed = run({"--detect", "pasted.txt"});
    EXPECT_EQ(mixed.status, 1);
    EXPECT_EQ(formats(mixed.out), (std::vector<std::string>{"pasted.txt mixed"}));
    EXPECT_NE(mixed.out.find("viscii"), std::string::npos) << mixed.out;
    EXPECT_NE(mixed.out.find("vni"), std::string::npos) << mixed.out;

    const ProgramRun missing = run({"--detect", "letter.vni", "nothing-here"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(formats(missing.out), (std::vector<std::string>{"letter.vni vni"}));
    EXPECT_NE(missing.err.find("nothing-here"), std::string::npos);
}

TEST_F(TsconvDetect, AutoConvertsAClearFile) {
    const std::string utf8 = iconv(viscii_, "VISCII", "UTF-8");
    for (const char* file : {"letter.vni", "letter.viqr", "letter.viscii"}) {
        SCOPED_TRACE(file);
        const ProgramRun r = run({"-f", "auto", "-t", "utf-8", file});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, utf8);
    }
    // Each input from its own format, into a folder.
    std::filesystem::create_directory(dir_ / "out");
    const ProgramRun r =
        run({"-f", "auto", "-t", "viscii", "-d", "out", "letter.vni", "letter.utf8"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir_ / "out" / "letter.vni"), viscii_);
    EXPECT_EQ(read_file(dir_ / "out" / "letter.utf8"), viscii_);

    // Standard input that is a file is read twice like any file.
    const ProgramRun stdin_file =
        run({"-f", "auto", "-t", "utf-8"}, read_file(dir_ / "letter.vni"));
    EXPECT_EQ(stdin_file.status, 0) << stdin_file.err;
    EXPECT_EQ(stdin_file.out, utf8);

    // Standard input from a pipe is kept in a temporary file and read twice too.
    const std::string command = "cd '" + dir_.path().string() + "' && cat letter.vni | '" +
                                tsconv_path() + "' -f auto -t utf-8 > piped.txt";
    EXPECT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(read_file(dir_ / "piped.txt"), utf8);
}

TEST_F(TsconvDetect, AutoRefusesAnUnknownFileNamingTheCandidates) {
    write_file(dir_ / "short.txt", "gi\xE4ng\n");  // a syllable in several formats
    const ProgramRun r = run({"-f", "auto", "-t", "utf-8", "-o", "out.txt", "short.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("tsconv: short.txt: format unknown"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("candidates: viscii"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir_ / "out.txt"));

    // Into standard output, the output stops at the refused input.
    const ProgramRun two = run({"-f", "auto", "-t", "utf-8", "letter.vni", "short.txt"});
    EXPECT_EQ(two.status, 1);
    EXPECT_EQ(two.out, iconv(viscii_, "VISCII", "UTF-8"));
}

// Files in the encodings real archives hold, written by iconv where it knows them and by
// tsconv itself for the rest: --detect names each, -f auto reads each back exactly, and a
// UTF-16 file given as an 8-bit format is refused.
TEST_F(TsconvDetect, TheEncodingsRealFilesUse) {
    const std::string utf8 = iconv(viscii_, "VISCII", "UTF-8");
    write_file(dir_ / "letter.cp1258", iconv(utf8, "UTF-8", "CP1258"));
    write_file(dir_ / "letter.utf16", iconv(utf8, "UTF-8", "UTF-16"));  // with a mark
    write_file(dir_ / "letter.utf16le", iconv(utf8, "UTF-8", "UTF-16LE"));
    write_file(dir_ / "letter.utf16be", iconv(utf8, "UTF-8", "UTF-16BE"));
    for (const char* f : {"tcvn3", "vni-win", "ncr"}) {  // TCVN3 has no toned capitals
        const ProgramRun w = run(
            {"-f", "utf-8", "-t", f, "--replace", "-o", std::string("letter.") + f, "letter.utf8"});
        ASSERT_NE(w.status, 2) << f << ": " << w.err;
    }
    const std::vector<std::string> files = {"letter.cp1258",  "letter.utf16", "letter.utf16le",
                                            "letter.utf16be", "letter.tcvn3", "letter.vni-win",
                                            "letter.ncr"};
    std::vector<std::string> arguments = {"--detect"};
    arguments.insert(arguments.end(), files.begin(), files.end());
    const ProgramRun detected = run(arguments);
    EXPECT_EQ(detected.status, 0) << detected.err;
    const std::vector<std::string> expected = {
        "letter.cp1258 cp1258",    "letter.utf16 utf-16", "letter.utf16le utf-16le",
        "letter.utf16be utf-16be", "letter.tcvn3 tcvn3",  "letter.vni-win vni-win",
        "letter.ncr ncr",
    };
    EXPECT_EQ(formats(detected.out), expected) << detected.out;

    for (std::size_t k = 0; k < files.size(); ++k) {
        SCOPED_TRACE(files[k]);
        const ProgramRun r = run({"-f", "auto", "-t", "utf-8", files[k]});
        EXPECT_EQ(r.status, 0) << r.err;
        const std::string format = expected[k].substr(expected[k].find(' ') + 1);
        EXPECT_EQ(r.out, run({"-f", format, "-t", "utf-8", files[k]}).out);
        if (format != "tcvn3") {
            EXPECT_EQ(r.out, utf8);
        }
    }

    const ProgramRun refused = run({"-f", "viscii", "-t", "utf-8", "letter.utf16"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("looks like utf-16"), std::string::npos) << refused.err;
    EXPECT_EQ(refused.out, "");
}

}  // namespace
}  // namespace toneshift::testing
