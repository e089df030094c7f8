#include "tsconv/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace toneshift::tsconv {
namespace {

Command parse(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "tsconv");
    std::vector<char*> argv;
    for (std::string& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    return parse_command_line(int(argv.size()) - 1, argv.data());
}

TEST(Options, FormatsByNameInAnyCaseOrNumberAndFilesInOrder) {
    const Command c = parse({"-f", "VISCII", "a b", "-t", "Utf8", "-q", "--nfd", "c"});
    ASSERT_EQ(c.action, Command::Action::kConvert) << c.error;
    EXPECT_EQ(c.options.from, 0);
    EXPECT_EQ(c.options.to, kUtf8);
    EXPECT_TRUE(c.options.quiet);
    EXPECT_TRUE(c.options.nfd);
    EXPECT_EQ(c.options.inputs, (std::vector<std::string>{"a b", "c"}));
    EXPECT_EQ(c.options.destination, Destination::kStandardOutput);
    EXPECT_EQ(c.options.policy, LossPolicy::kRefuse);

    const Command n = parse({"--from-code=10", "--to-code", "vpswin"});
    ASSERT_EQ(n.action, Command::Action::kConvert) << n.error;
    EXPECT_EQ(n.options.from, 10);
    EXPECT_EQ(n.options.to, 1);
    EXPECT_EQ(n.options.inputs, std::vector<std::string>{"-"}) << "no FILE: standard input";
}

TEST(Options, EverythingAfterDoubleDashIsAFile) {
    const Command c = parse({"-f", "0", "-t", "3", "--", "-i", "--check"});
    ASSERT_EQ(c.action, Command::Action::kConvert) << c.error;
    EXPECT_EQ(c.options.inputs, (std::vector<std::string>{"-i", "--check"}));
    EXPECT_EQ(c.options.destination, Destination::kStandardOutput);
    EXPECT_FALSE(c.options.check);
}

TEST(Options, DestinationsAndPolicies) {
    struct Case {
        std::vector<std::string> arguments;
        Destination destination;
        std::string output;
        LossPolicy policy;
        bool check;
    };
    const Case cases[] = {
        {{"-o", "out"}, Destination::kOutputFile, "out", LossPolicy::kRefuse, false},
        {{"--output=out", "--replace"},
         Destination::kOutputFile,
         "out",
         LossPolicy::kReplace,
         false},
        {{"-o", "-"}, Destination::kStandardOutput, "-", LossPolicy::kRefuse, false},
        {{"-d", "dir", "--translit"},
         Destination::kOutDir,
         "dir",
         LossPolicy::kTransliterate,
         false},
        {{"--out-dir", "dir"}, Destination::kOutDir, "dir", LossPolicy::kRefuse, false},
        {{"-i", "--replace", "--replace"}, Destination::kInPlace, "", LossPolicy::kReplace, false},
        {{"--in-place"}, Destination::kInPlace, "", LossPolicy::kRefuse, false},
        {{"--check"}, Destination::kStandardOutput, "", LossPolicy::kRefuse, true},
        // --check is a dry run of the command it precedes.
        {{"--check", "--replace"}, Destination::kStandardOutput, "", LossPolicy::kReplace, true},
        {{"--translit", "--check"},
         Destination::kStandardOutput,
         "",
         LossPolicy::kTransliterate,
         true},
        {{"--check", "-o", "out"}, Destination::kOutputFile, "out", LossPolicy::kRefuse, true},
        {{"--check", "-d", "dir"}, Destination::kOutDir, "dir", LossPolicy::kRefuse, true},
        {{"-i", "--check", "--replace"}, Destination::kInPlace, "", LossPolicy::kReplace, true},
    };
    for (const Case& k : cases) {
        std::vector<std::string> arguments = {"-f", "viqr", "-t", "vni"};
        arguments.insert(arguments.end(), k.arguments.begin(), k.arguments.end());
        arguments.push_back("file");
        SCOPED_TRACE(testing::PrintToString(arguments));
        const Command c = parse(arguments);
        ASSERT_EQ(c.action, Command::Action::kConvert) << c.error;
        EXPECT_EQ(c.options.destination, k.destination);
        EXPECT_EQ(c.options.output, k.output);
        EXPECT_EQ(c.options.policy, k.policy);
        EXPECT_EQ(c.options.check, k.check);
    }
}

TEST(Options, WithoutFromIntoUtf8EveryInputIsADocumentReadByItsFonts) {
    const Command c = parse({"-t", "utf-8", "--font-map", "fonts.txt", "--unicode-font", "Cambria",
                             "-d", "out", "a.docx"});
    ASSERT_EQ(c.action, Command::Action::kConvert) << c.error;
    EXPECT_EQ(c.options.from, kFromFonts);
    EXPECT_EQ(c.options.font_map, "fonts.txt");
    EXPECT_EQ(c.options.unicode_font, "Cambria");
    EXPECT_EQ(parse({"--detect", "--font-map", "m", "a.docx"}).action, Command::Action::kDetect);
    const struct {
        std::vector<std::string> arguments;
        std::string message;
    } errors[] = {
        {{"-f", "tcvn3", "-t", "utf-8", "--font-map", "m"}, "--font-map is for documents"},
        {{"-f", "tcvn3", "-t", "utf-8", "--unicode-font", "Arial"}, "--unicode-font is for"},
        {{"-t", "viscii", "--font-map", "m", "a"}, "-f FROM is needed"},
        {{"-t", "utf-8", "--force", "a"}, "--force needs -f FROM"},
        {{"--detect", "--unicode-font", "Arial"}, "--detect and --unicode-font"},
    };
    for (const auto& e : errors) {
        SCOPED_TRACE(e.message);
        const Command u = parse(e.arguments);
        EXPECT_EQ(u.action, Command::Action::kUsageError);
        EXPECT_EQ(u.error.substr(0, e.message.size()), e.message);
    }
}

TEST(Options, ListHelpAndVersionNeedNoFormats) {
    EXPECT_EQ(parse({"-l"}).action, Command::Action::kList);
    EXPECT_EQ(parse({"--list"}).action, Command::Action::kList);
    EXPECT_EQ(parse({"--help"}).action, Command::Action::kHelp);
    EXPECT_EQ(parse({"-h", "-f", "nonsense"}).action, Command::Action::kHelp);
    EXPECT_EQ(parse({"--version"}).action, Command::Action::kVersion);
}

TEST(Options, UsageErrors) {
    struct Case {
        std::vector<std::string> arguments;
        std::string message;
        bool usage;  // followed by the one-line usage
    };
    const Case cases[] = {
        {{}, "-f FROM and -t TO are needed", true},
        {{"-f", "viscii"}, "-t TO is needed", true},
        {{"-t", "viscii", "a"}, "-f FROM is needed", true},
        {{"-f", "tcvn4", "-t", "0"}, "unknown format \"tcvn4\"; the formats are viscii, ", false},
        {{"-f", "0", "-t", "26"}, "unknown format \"26\"", false},
        {{"-f", "0", "-t", "auto"}, "unknown format \"auto\"", false},
        {{"--frobnicate", "-f", "0", "-t", "1"}, "unknown option --frobnicate", true},
        {{"-f", "0", "-t", "1", "-x"}, "unknown option -x", true},
        {{"-f", "0", "-t"}, "option -t needs an argument", true},
        {{"-f", "0", "-t", "1", "--output"}, "option --output needs an argument", true},
        {{"-f", "0", "-t", "1", "--nfd=yes"}, "option --nfd takes no argument", true},
        {{"-f", "0", "-t", "1", "-o", "x", "-d", "y"}, "-o and -d cannot be used together", true},
        {{"-f", "0", "-t", "1", "-i", "-o", "x"}, "-i and -o cannot be used together", true},
        {{"-f", "0", "-t", "1", "--replace", "--translit"},
         "--replace and --translit cannot be used together",
         true},
        {{"-f", "0", "-t", "1", "--translit", "--check", "--replace"},
         "--translit and --replace cannot be used together",
         true},
        {{"-f", "0", "-t", "1", "--check", "-d", "x", "-"}, "-d needs named input files", true},
        {{"-f", "0", "-t", "1", "-i"}, "-i needs named input files", true},
        {{"-f", "0", "-t", "1", "-d", "x", "a", "-"}, "-d needs named input files", true},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::PrintToString(k.arguments));
        const Command c = parse(k.arguments);
        ASSERT_EQ(c.action, Command::Action::kUsageError);
        EXPECT_EQ(c.error.substr(0, k.message.size()), k.message) << c.error;
        EXPECT_EQ(c.usage, k.usage);
    }
}

TEST(Options, ForceRecursivePatternsAndJobs) {
    const Command c =
        parse({"-f", "vni", "-t", "utf-8", "--force", "-r", "--include", "*.txt", "--exclude=old*",
               "--include", "old1.txt", "-j", "8", "-d", "out", "folder", "b.txt"});
    ASSERT_EQ(c.action, Command::Action::kConvert) << c.error;
    EXPECT_EQ(c.options.from, 3);
    EXPECT_TRUE(c.options.force);
    EXPECT_TRUE(c.options.recursive);
    EXPECT_EQ(c.options.jobs, 8u);
    ASSERT_EQ(c.options.patterns.size(), 3u);
    const std::pair<bool, std::string> patterns[] = {
        {true, "*.txt"}, {false, "old*"}, {true, "old1.txt"}};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(c.options.patterns[i].include, patterns[i].first) << i;
        EXPECT_EQ(c.options.patterns[i].glob, patterns[i].second) << i;
    }
    EXPECT_EQ(c.options.inputs, (std::vector<std::string>{"folder", "b.txt"}));

    const Command plain = parse({"-f", "0", "-t", "1"});
    EXPECT_FALSE(plain.options.force);
    EXPECT_FALSE(plain.options.recursive);
    EXPECT_TRUE(plain.options.patterns.empty());
    EXPECT_EQ(plain.options.jobs, 1u);
}

// Every mode with what it takes; each line must parse.
TEST(Options, CombinationsThatAreAllowed) {
    const std::vector<std::string> cases[] = {
        {"-f", "0", "-t", "1", "-j", "1"},  // one job is no request for more
        {"-f", "0", "-t", "1", "-o", "x", "--jobs=1"},
        {"-f", "0", "-t", "1", "-d", "x", "-rj", "4", "a"},
        {"-f", "0", "-t", "1", "-i", "--recursive", "--jobs", "1024", "a"},
        {"-f", "0", "-t", "1", "--check", "-r", "-j", "2", "a"},
        {"-f", "0", "-t", "1", "--check", "-o", "x", "-j", "2"},
        {"-f", "0", "-t", "1", "--check", "-d", "x", "-r", "--exclude", "*~", "a"},
        {"-f", "auto", "-t", "1", "--check", "--translit", "-i", "a"},
        {"-f", "viqr", "-t", "utf-8", "--nfd", "--force", "--check"},
        {"-f", "0", "-t", "1", "--force", "-o", "x", "--replace", "-q"},
        {"-f", "0", "-t", "1", "-o", "-", "--check"},
        {"-f", "0", "-t", "utf-16", "--nfd", "--unicode-form", "nfd"},  // said twice alike
        {"-f", "0", "-t", "ncr", "--unicode-form", "Composite"},
    };
    for (const std::vector<std::string>& arguments : cases) {
        SCOPED_TRACE(testing::PrintToString(arguments));
        const Command c = parse(arguments);
        EXPECT_EQ(c.action, Command::Action::kConvert) << c.error;
    }
    const std::vector<std::string> detect_cases[] = {
        {"--detect"},
        {"--detect", "-r", "-j", "3", "--include", "*.txt", "a"},
        {"--detect", "a", "-"},
        {"-r", "a", "--detect", "--exclude=*.bak", "--include=x*"},
    };
    for (const std::vector<std::string>& arguments : detect_cases) {
        SCOPED_TRACE(testing::PrintToString(arguments));
        const Command c = parse(arguments);
        EXPECT_EQ(c.action, Command::Action::kDetect) << c.error;
    }
    EXPECT_EQ(parse({"--detect"}).options.inputs, std::vector<std::string>{"-"});
}

// Options that would do nothing in the mode given, and -r, -d or -i with standard input.
TEST(Options, UsageErrorsForOptionsThatDoNothing) {
    struct Case {
        std::vector<std::string> arguments;
        std::string message;  // the whole message
    };
    const Case cases[] = {
        {{"--detect", "-o", "x"}, "--detect and -o cannot be used together"},
        {{"--detect", "-d", "x", "a"}, "--detect and -d cannot be used together"},
        {{"-i", "--detect", "a"}, "--detect and -i cannot be used together"},
        {{"--detect", "--replace"}, "--detect and --replace cannot be used together"},
        {{"--detect", "--translit"}, "--detect and --translit cannot be used together"},
        {{"--detect", "--check"}, "--detect and --check cannot be used together"},
        {{"--detect", "--nfd"}, "--detect and --nfd cannot be used together"},
        {{"--detect", "--force"}, "--detect and --force cannot be used together"},
        {{"--detect", "-q"}, "--detect and -q cannot be used together"},
        {{"-f", "auto", "-t", "utf-8", "--force", "a"},
         "--force needs -f FROM: under -f auto each input is converted from the format "
         "detected"},
        {{"--detect", "-f", "auto"}, "--detect and -f cannot be used together"},
        {{"--detect", "--to-code=utf-8"}, "--detect and -t cannot be used together"},
        {{"--detect", "-o", "-"}, "--detect and -o cannot be used together"},
        {{"-f", "0", "-t", "1", "--nfd"},
         "--nfd needs a Unicode target (utf-8, utf-16, utf-16le, utf-16be or ncr): only they "
         "have normal forms"},
        {{"-f", "0", "-t", "viqr", "--unicode-form", "composite", "--check"},
         "--unicode-form needs a Unicode target (utf-8, utf-16, utf-16le, utf-16be or ncr): "
         "only they have normal forms"},
        {{"-f", "0", "-t", "utf-8", "--unicode-form", "nfkc"},
         "--unicode-form \"nfkc\": the forms are nfc, nfd and composite"},
        {{"-f", "0", "-t", "utf-8", "--nfd", "--unicode-form=composite"},
         "two Unicode forms asked for: --nfd and --unicode-form composite"},
        {{"-f", "0", "-t", "utf-8", "--unicode-form", "nfc", "--unicode-form", "NFD"},
         "two Unicode forms asked for: --unicode-form and --unicode-form nfd"},
        {{"--detect", "--unicode-form", "nfd"},
         "--detect and --unicode-form cannot be used together"},
        {{"-f", "0", "-t", "1", "-r", "a"}, "-r needs -d DIR, -i, --check or --detect"},
        {{"-f", "0", "-t", "1", "-r", "-o", "-", "a"}, "-r needs -d DIR, -i, --check or --detect"},
        {{"-f", "0", "-t", "1", "-r", "-o", "x", "a"},
         "-r and -o cannot be used together (-r needs -d DIR, -i, --check or --detect)"},
        {{"-f", "0", "-t", "1", "--check", "-r", "-o", "x", "a"},
         "-r and -o cannot be used together (-r needs -d DIR, -i, --check or --detect)"},
        {{"-f", "0", "-t", "1", "-d", "x", "--include", "*.txt", "a"}, "--include needs -r"},
        {{"--detect", "--exclude", "*.txt", "--include", "a*", "a"}, "--exclude needs -r"},
        {{"-f", "0", "-t", "1", "-d", "x", "-r", "--include", "", "a"},
         "--include needs a pattern"},
        {{"-f", "0", "-t", "1", "-d", "x", "-r", "--exclude", "old/*.txt", "a"},
         "--exclude \"old/*.txt\": a pattern matches a file's name without its folder, and "
         "holds no \"/\""},
        {{"-f", "0", "-t", "1", "-j", "2"},
         "-j 2 needs -d DIR, -i, --check or --detect: one output takes its inputs one after "
         "the other"},
        {{"-f", "0", "-t", "1", "-o", "x", "--jobs=3", "a"},
         "-j 3 needs -d DIR, -i, --check or --detect: one output takes its inputs one after "
         "the other"},
        {{"-f", "0", "-t", "1", "-i", "-r", "-"}, "-i needs named input files, not standard input"},
        {{"-f", "0", "-t", "1", "--check", "-r", "a", "-"},
         "-r needs named files or folders, not standard input"},
        {{"--detect", "-r"}, "-r needs named files or folders, not standard input"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::PrintToString(k.arguments));
        const Command c = parse(k.arguments);
        ASSERT_EQ(c.action, Command::Action::kUsageError);
        EXPECT_EQ(c.error, k.message);
        EXPECT_TRUE(c.usage);
    }
}

TEST(Options, JobsAreAWholeNumberFromOneTo1024) {
    for (const char* bad : {"0", "1025", "-1", "+2", "2x", "", " 2", "4294967297", "1.5"}) {
        SCOPED_TRACE(bad);
        const Command c = parse({"-f", "0", "-t", "1", "-d", "x", "-j", bad, "a"});
        ASSERT_EQ(c.action, Command::Action::kUsageError);
        EXPECT_EQ(c.error, std::string("-j \"") + bad +
                               "\": the number of jobs is a whole number from 1 to 1024");
    }
    EXPECT_EQ(parse({"-f", "0", "-t", "1", "-d", "x", "-j1024", "a"}).options.jobs, 1024u);
    EXPECT_EQ(parse({"-f", "0", "-t", "1", "-d", "x", "-j", "007", "a"}).options.jobs, 7u);
}

// An unknown option names the argument it is in, not the option before it: after an
// option of its own ("--detect"), after a group of short options, and after non-options
// that getopt_long moves past.
TEST(Options, UnknownOptionNamesItsOwnArgument) {
    const std::string hint = " (put file names that begin with \"-\" after \"--\")";
    struct Case {
        std::vector<std::string> arguments;
        std::string message;
    };
    const Case cases[] = {
        {{"--detect", "-wc.txt"}, "unknown option -wc.txt" + hint},
        {{"--detect", "a.txt", "-wc.txt"}, "unknown option -wc.txt" + hint},
        {{"-f", "0", "-t", "1", "-q", "-x"}, "unknown option -x" + hint},
        {{"-f", "0", "-t", "1", "-qx"}, "unknown option -x in -qx" + hint},
        {{"-f", "0", "-t", "1", "-qrx.txt"}, "unknown option -x in -qrx.txt" + hint},
        {{"-f", "0", "-t", "1", "-qw", "-q"}, "unknown option -w in -qw" + hint},
        {{"-f", "0", "-t", "1", "-w", "-w"}, "unknown option -w" + hint},
        {{"-qt", "1", "a", "-f", "0", "-x-y"}, "unknown option -x-y" + hint},
        {{"-ft", "1", "-z"}, "unknown option -z" + hint},
        {{"-t1", "x", "-f", "0", "--detected"}, "unknown option --detected" + hint},
        {{"-f", "0", "-t", "1", "--in"}, "option --in is ambiguous: --in-place or --include"},
        {{"-f", "0", "-t", "1", "--forc=1"}, "option --force takes no argument"},
        {{"-f", "0", "-t", "1", "--force=yes"}, "option --force takes no argument"},
        {{"-f", "0", "-t", "1", "-j"}, "option -j needs an argument"},
        {{"-f", "0", "-t", "1", "-qj"}, "option -j needs an argument"},
        {{"-f", "0", "-t", "1", "-r", "--include"}, "option --include needs an argument"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::PrintToString(k.arguments));
        const Command c = parse(k.arguments);
        ASSERT_EQ(c.action, Command::Action::kUsageError);
        EXPECT_EQ(c.error, k.message);
    }
    // After "--" it is a file.
    const Command c = parse({"--detect", "--", "-wc.txt"});
    ASSERT_EQ(c.action, Command::Action::kDetect) << c.error;
    EXPECT_EQ(c.options.inputs, std::vector<std::string>{"-wc.txt"});
}

}  // namespace
}  // namespace toneshift::tsconv
