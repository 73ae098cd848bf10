// The command-line stage of the real binary: usage forms, refusals, and that none of them
// creates the log.
#include "test_support.h"

namespace vor32_test {
namespace {

struct ConsoleRow {
    std::vector<std::string> args;
    std::string expected; // the whole console output, banner masked
};

using CommandLineStage = Vor32ParamTest<ConsoleRow>;

TEST_P(CommandLineStage, PrintsExactlyAndEndsWithOne) {
    Outcome outcome = RunHere(GetParam().args);
    ASSERT_TRUE(ExitedWith(outcome, 1));
    const std::string& expected = GetParam().expected;
    if (expected.rfind(kBanner, 0) == 0) {
        EXPECT_EQ(MaskBanner(outcome.output), expected);
    } else {
        std::size_t banner = outcome.output.find("VOR32.EXE\t[");
        std::string head = outcome.output.substr(0, banner);
        std::string rest =
            banner == std::string::npos ? "" : MaskBanner(outcome.output.substr(banner));
        EXPECT_EQ(head + rest, expected);
    }
    EXPECT_FALSE(fs::exists(dir / "VOR32.LOG"));
    EXPECT_FALSE(fs::exists(dir / "A" / kDataName));
}

const std::string k68(68, 'a');

INSTANTIATE_TEST_SUITE_P(
    Forms, CommandLineStage,
    ::testing::Values(
        ConsoleRow{{"/?"}, UsageOutput(true)}, ConsoleRow{{"-?"}, UsageOutput(true)},
        ConsoleRow{{"x?"}, UsageOutput(true)}, ConsoleRow{{}, UsageOutput(false)},
        ConsoleRow{{"5000", "6000", "100", "A"}, UsageOutput(false)},
        ConsoleRow{{"/?", "A"}, UsageOutput(false)},
        ConsoleRow{{"5000", "6000", "100", "A", "B", "/x"},
                   "Invalid switch: x\n" + UsageOutput(false)},
        ConsoleRow{{"5000", "6000", "100", "A", "/?", "B"},
                   "Invalid switch: ?\n" + UsageOutput(false)},
        ConsoleRow{{"5000", "6000", "100", "A", "B", "-tQ"},
                   "Invalid switch: Q\n" + UsageOutput(false)},
        ConsoleRow{{"5000", "6000", "100", "A", "/t", "/v"},
                   "You must have more than 1 target to run this test.\n" + UsageOutput(false)},
        ConsoleRow{{"5000", "6000", "100", "A", k68, "/x"}, "Max target path length is 68\n"},
        ConsoleRow{{"-5000", "6000", "100", "A", "B"}, "MinSize must not be negative.\n"},
        ConsoleRow{{"5000", "-6000", "100", "A", "B"}, "MaxSize must not be negative.\n"},
        ConsoleRow{{"5000", "6000", "-100", "A", "B"}, "Increment must not be negative.\n"},
        ConsoleRow{{"0", "3", "0", "A", "B"}, "MaxSize must be at least 4 bytes.\n"},
        ConsoleRow{{"0", "8", "0", "A", "B", "C", "D", "E", "F", "G", "H", "I",
                    "J", "K", "L", "M", "N", "O", "P", "Q", "R", "S", "T", "U"},
                   "Max number of targets is 20\n"},
        ConsoleRow{{"0", "8", "0", "A", "B", "/d", std::string(236, 'd')},
                   "Max file name length is 235; too long: '" + std::string(236, 'd') + "'\n"},
        ConsoleRow{{"0", "8", "0", "A", "B", "/d", std::string(78, 'd')},
                   "Max data file path length is 79; too long at target 'A'\n"}),
    zebtest::NamedRows([](const ConsoleRow& r) { return zebtest::Joined("args", r.args); }));

using CommandLine = Vor32Test;

TEST_F(CommandLine, TargetOfSixtySevenCharactersRuns) {
    // 67 characters, as two directories
    std::string target = std::string(30, 'p') + "/" + std::string(36, 'q');
    ASSERT_EQ(target.size(), 67u);
    ASSERT_TRUE(ExitedWith(RunHere({"8", "8", "4", target, "B", "/t", "/d", "x"}, {target}), 0));
    EXPECT_EQ(ReadFile(dir / target / "x"), Cells(8));
    EXPECT_EQ(ReadFile(dir / "B" / "x"), Cells(8));
}

// The longest log file name accepted fills the message buffer exactly: its start-up line
// reaches the log whole, with its CR LF.
TEST_F(CommandLine, LongestLogFileNameIsLoggedWhole) {
    std::string name(235, 'n');
    ASSERT_TRUE(ExitedWith(RunHere({"8", "8", "4", "A", "B", "/t", "/l", name}), 0));
    std::string log = ReadFile(dir / name);
    EXPECT_EQ(MaskTimes(log).rfind(StartUpBlock(8, 8, 4, 8, true, {"A", "B"}, name), 0), 0u)
        << log.substr(0, 400);
}

TEST_F(CommandLine, RoundingOf5001And5003And1) {
    Outcome outcome = RunHere({"5001", "5003", "1", "A", "B", "/t"});
    ASSERT_TRUE(ExitedWith(outcome, 0));
    EXPECT_NE(outcome.output.find("\tMinSize: 5000\tMaxSize:5000\tIncrement:4\n"),
              std::string::npos)
        << outcome.output;
}

TEST_F(CommandLine, LetterGroupLdNamesLogAndDataFile) {
    ASSERT_TRUE(ExitedWith(RunHere({"8", "12", "4", "A", "/ld", "a.log", "b.dat", "B", "/t"}), 0));
    EXPECT_FALSE(fs::exists(dir / "VOR32.LOG"));
    std::string log = ReadFile(dir / "a.log");
    EXPECT_EQ(
        MaskTimes(log).rfind(StartUpBlock(8, 12, 4, 12, true, {"A", "B"}, "a.log", "b.dat"), 0), 0u)
        << log;
    EXPECT_EQ(ReadFile(dir / "A" / "b.dat"), Cells(12));
    EXPECT_EQ(ReadFile(dir / "B" / "b.dat"), Cells(12));
}

TEST_F(CommandLine, AbsoluteTargetsWithTrailingSlash) {
    std::string a = (dir / "A").string() + "/";
    std::string b = (dir / "B").string();
    if (b.size() >= 56) {
        GTEST_SKIP() << "temporary folder too deep for the default data file name";
    }
    Outcome outcome = RunHere({"8", "12", "4", a, b, "/t"});
    ASSERT_TRUE(ExitedWith(outcome, 0));
    std::vector<Transfer> transfers = Transfers(outcome.output);
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_EQ(transfers[0].source, a);
    EXPECT_EQ(transfers[0].destination, b + "/");
    EXPECT_EQ(ReadFile(dir / "B" / kDataName), Cells(12));
}

} // namespace
} // namespace vor32_test
