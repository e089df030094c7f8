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
        {{"-f", "tcvn", "-t", "0"}, "unknown format \"tcvn\"; the formats are viscii, ", false},
        {{"-f", "0", "-t", "12"}, "unknown format \"12\"", false},
        {{"-f", "0", "-t", "auto"}, "unknown format \"auto\"", false},
        {{"--frobnicate", "-f", "0", "-t", "1"}, "unknown option --frobnicate", true},
        {{"-f", "0", "-t", "1", "-x"}, "unknown option -x", true},
        {{"-f", "0", "-t"}, "option -t needs an argument", true},
        {{"-f", "0", "-t", "1", "--output"}, "option --output needs an argument", true},
        {{"-f", "0", "-t", "1", "--nfd=yes"}, "unknown option --nfd", true},
        {{"-f", "0", "-t", "1", "-o", "x", "-d", "y"}, "-o and -d cannot be used together", true},
        {{"-f", "0", "-t", "1", "-i", "-o", "x"}, "-i and -o cannot be used together", true},
        {{"-f", "0", "-t", "1", "--replace", "--translit"},
         "--replace and --translit cannot be used together",
         true},
        {{"-f", "0", "-t", "1", "--check", "--replace"},
         "--check and --replace cannot be used together",
         true},
        {{"-f", "0", "-t", "1", "--check", "-d", "x", "a"}, "--check and -d cannot be used", true},
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

}  // namespace
}  // namespace toneshift::tsconv
