// The command line as a pure function: argv tables with the outcome expected of each.
#include "cmdline.h"
#include "names.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

using vor32::ParseOutcome;
using enum ParseOutcome;

vor32::ParseResult Parse(const std::vector<std::string>& args) {
    std::vector<std::string_view> views(args.begin(), args.end());
    return vor32::ParseCommandLine(views);
}

struct OutcomeRow {
    std::vector<std::string> args;
    ParseOutcome outcome;
};

class OutcomeTable : public ::testing::TestWithParam<OutcomeRow> {};

TEST_P(OutcomeTable, GivesTheOutcome) {
    const OutcomeRow& row = GetParam();
    EXPECT_EQ(Parse(row.args).outcome, row.outcome);
}

const std::string k67(67, 'a');
const std::string k68(68, 'a');

INSTANTIATE_TEST_SUITE_P(
    CommandLines, OutcomeTable,
    ::testing::Values(
        OutcomeRow{{"/?"}, Describe}, OutcomeRow{{"-?"}, Describe}, OutcomeRow{{"x?"}, Describe},
        OutcomeRow{{"??x"}, Describe}, OutcomeRow{{"?"}, Usage}, OutcomeRow{{}, Usage},
        OutcomeRow{{"/?", "1"}, Usage}, OutcomeRow{{"1", "2", "3", "A"}, Usage},
        OutcomeRow{{"4", "8", "4", "A", "B"}, Run},
        OutcomeRow{{"4", "8", "4", "A", "/t"}, TooFewTargets},
        OutcomeRow{{"4", "8", "4", "/t", "/v"}, TooFewTargets},
        OutcomeRow{{"4", "8", "4", "A", "B", "/x"}, InvalidSwitch},
        OutcomeRow{{"4", "8", "4", "A", "B", "/?"}, InvalidSwitch},
        OutcomeRow{{"4", "8", "4", "A", "B", "-tq"}, InvalidSwitch},
        OutcomeRow{{"4", "8", "4", "A", "B", "/", "-"}, Run},
        OutcomeRow{{"4", "8", "4", "A", k68}, TargetTooLong},
        OutcomeRow{{"4", "8", "4", "A", k67, "/d", "x"}, Run},
        // a 67-character target with the default data file name does not fit 79 characters
        OutcomeRow{{"4", "8", "4", "A", k67}, DataPathTooLong},
        OutcomeRow{{"-4", "8", "4", "A", "B"}, NegativeSize},
        OutcomeRow{{"4", "-8", "4", "A", "B"}, NegativeSize},
        OutcomeRow{{"4", "8", "-4", "A", "B"}, NegativeSize},
        OutcomeRow{{"4", "3", "4", "A", "B"}, MaxSizeTooSmall},
        OutcomeRow{{"4", "abc", "4", "A", "B"}, MaxSizeTooSmall},
        OutcomeRow{{"abc", "8", "xyz", "A", "B"}, Run},
        OutcomeRow{{"-0", "8", "+0", "A", "B"}, Run},
        OutcomeRow{{"4", "8", "-3", "A", "B"}, NegativeSize},
        OutcomeRow{{"4", "8", "4", "A", "B", "/l", std::string(236, 'n')}, NameTooLong},
        OutcomeRow{{"4", "8", "4", "A", "B", "/l", std::string(235, 'n')}, Run}),
    zebtest::NamedRows([](const OutcomeRow& r) { return zebtest::Joined("args", r.args); }));

TEST(ParseCommandLine, RoundsSizesDownToCells) {
    auto result = Parse({"5001", "5003", "1", "A", "B"});
    ASSERT_EQ(result.outcome, ParseOutcome::Run);
    EXPECT_EQ(result.settings.MinSize, 5000);
    EXPECT_EQ(result.settings.MaxSize, 5000);
    EXPECT_EQ(result.settings.Increment, 4);
}

TEST(ParseCommandLine, ReadsNumbersAsAtolDoesWithin32Bits) {
    EXPECT_EQ(vor32::ReadNumber32("  \t+123abc"), 123);
    EXPECT_EQ(vor32::ReadNumber32("-17"), -17);
    EXPECT_EQ(vor32::ReadNumber32("x5"), 0);
    EXPECT_EQ(vor32::ReadNumber32(""), 0);
    EXPECT_EQ(vor32::ReadNumber32("- 5"), 0);
    EXPECT_EQ(vor32::ReadNumber32("2147483647"), 2147483647);
    EXPECT_EQ(vor32::ReadNumber32("2147483648"), 2147483647);
    EXPECT_EQ(vor32::ReadNumber32("99999999999999999999999"), 2147483647);
    EXPECT_EQ(vor32::ReadNumber32("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(vor32::ReadNumber32("-99999999999999999999"), -2147483647 - 1);
}

TEST(ParseCommandLine, LargestSizeRoundsToACell) {
    auto result = Parse({"0", "99999999999", "0", "A", "B"});
    ASSERT_EQ(result.outcome, ParseOutcome::Run);
    EXPECT_EQ(result.settings.MaxSize, 2147483644);
    EXPECT_EQ(result.settings.Increment, 4);
}

TEST(ParseCommandLine, SwitchGroupsInAnyCaseAndSpelling) {
    for (const auto& switches :
         std::vector<std::vector<std::string>>{{"/TV"}, {"-tv"}, {"/t", "/v"}, {"-V", "/T"}}) {
        std::vector<std::string> args = {"4", "8", "4", "A", "B"};
        args.insert(args.end(), switches.begin(), switches.end());
        auto result = Parse(args);
        ASSERT_EQ(result.outcome, ParseOutcome::Run) << switches[0];
        EXPECT_TRUE(result.settings.StopAtMaxSize) << switches[0];
        EXPECT_TRUE(result.settings.LogAllOutput) << switches[0];
        EXPECT_FALSE(result.settings.ExitCodeThree) << switches[0];
    }
    EXPECT_TRUE(Parse({"4", "8", "4", "A", "B", "/h"}).settings.ExitCodeThree);
}

TEST(ParseCommandLine, LetterLAndDTakeTheNextArgumentsInOrder) {
    auto result = Parse({"4", "8", "4", "A", "/ld", "a.log", "b.dat", "B"});
    ASSERT_EQ(result.outcome, ParseOutcome::Run);
    EXPECT_EQ(result.settings.LogFileName, "a.log");
    EXPECT_EQ(result.settings.DataFileName, "b.dat");
    EXPECT_EQ(result.settings.TargetList, (std::vector<std::string>{"A", "B"}));
}

TEST(ParseCommandLine, ConsumedArgumentIsNotExamined) {
    // "/x" after /l is the log file name, not a switch; "-" is a name, not a group.
    auto result = Parse({"4", "8", "4", "A", "B", "/l", "/x", "-d", "-"});
    ASSERT_EQ(result.outcome, ParseOutcome::Run);
    EXPECT_EQ(result.settings.LogFileName, "/x");
    EXPECT_EQ(result.settings.DataFileName, "-");
}

TEST(ParseCommandLine, LetterWithNothingLeftKeepsTheDefault) {
    auto result = Parse({"4", "8", "4", "A", "B", "/ld"});
    ASSERT_EQ(result.outcome, ParseOutcome::Run);
    EXPECT_EQ(result.settings.LogFileName, "VOR32.LOG");
    EXPECT_EQ(result.settings.DataFileName, "VOR32's data file.DATA");
    result = Parse({"4", "8", "4", "A", "B", "/ld", "only.log"});
    EXPECT_EQ(result.settings.LogFileName, "only.log");
    EXPECT_EQ(result.settings.DataFileName, "VOR32's data file.DATA");
}

TEST(ParseCommandLine, AbsolutePathsAreTargetsAndShortSlashWordsAreSwitches) {
    auto result = Parse({"4", "8", "4", "/mnt/a", "/srv/", "//", "/tv"});
    ASSERT_EQ(result.outcome, ParseOutcome::Run);
    EXPECT_EQ(result.settings.TargetList, (std::vector<std::string>{"/mnt/a", "/srv/", "//"}));
    EXPECT_TRUE(result.settings.StopAtMaxSize);
    auto refused = Parse({"4", "8", "4", "/mnt/a", "/srv"});
    EXPECT_EQ(refused.outcome, InvalidSwitch);
    EXPECT_EQ(refused.invalidSwitch, 's');
}

TEST(ParseCommandLine, InvalidSwitchNamesItsLetter) {
    auto result = Parse({"4", "8", "4", "A", "B", "/tXv"});
    EXPECT_EQ(result.outcome, InvalidSwitch);
    EXPECT_EQ(vor32::RefusalText(result), "Invalid switch: X\n");
    EXPECT_TRUE(vor32::ShowsUsage(result.outcome));
}

TEST(ParseCommandLine, TwentyTargetsFitAndTheTwentyFirstIsRefused) {
    std::vector<std::string> args = {"4", "8", "4"};
    for (int i = 0; i < 20; ++i) {
        args.push_back("T" + std::to_string(i));
    }
    EXPECT_EQ(Parse(args).outcome, ParseOutcome::Run);
    args.push_back("T20");
    auto result = Parse(args);
    EXPECT_EQ(result.outcome, TooManyTargets);
    EXPECT_EQ(vor32::RefusalText(result), "Max number of targets is 20\n");
    EXPECT_FALSE(vor32::ShowsUsage(result.outcome));
}

TEST(ParseCommandLine, DataFilePathOfSeventyNineCharactersFits) {
    // target of 56 + "/" + the default name of 22 = 79
    std::string target(56, 't');
    EXPECT_EQ(Parse({"4", "8", "4", "A", target}).outcome, ParseOutcome::Run);
    target.push_back('t');
    auto result = Parse({"4", "8", "4", "A", target});
    EXPECT_EQ(result.outcome, DataPathTooLong);
    EXPECT_EQ(vor32::RefusalText(result),
              "Max data file path length is 79; too long at target '" + target + "'\n");
    // a target that ends in "/" gets no second one
    EXPECT_EQ(Parse({"4", "8", "4", "A", std::string(56, 't') + "/"}).outcome, ParseOutcome::Run);
}

TEST(ParseCommandLine, RefusalTexts) {
    EXPECT_EQ(vor32::RefusalText(Parse({"4", "8", "4", "A", k68})),
              "Max target path length is 68\n");
    EXPECT_EQ(vor32::RefusalText(Parse({"4", "8", "4", "A", "/v"})),
              "You must have more than 1 target to run this test.\n");
    EXPECT_EQ(vor32::RefusalText(Parse({"4", "8", "-4", "A", "B"})),
              "Increment must not be negative.\n");
    EXPECT_EQ(vor32::RefusalText(Parse({"4", "2", "4", "A", "B"})),
              "MaxSize must be at least 4 bytes.\n");
    EXPECT_EQ(vor32::RefusalText(Parse({"4", "8", "4", "A", "B"})), "");
    EXPECT_EQ(vor32::RefusalText(Parse({"/?"})), "");
}

// URL targets: the switches n and k (the last one given counts), and refusals that never
// show the URL, which may hold a password.
TEST(ParseCommandLine, UrlTargetsAndServerReads) {
    auto result = Parse({"4", "8", "4", "smb://u@h/s/d/", "nfs://h:2049/e/", "/nk", "-n"});
    ASSERT_EQ(result.outcome, ParseOutcome::Run);
    EXPECT_EQ(result.settings.ReadsFromServer, vor32::ServerReads::Always);
    EXPECT_EQ(Parse({"4", "8", "4", "A", "B", "/K"}).settings.ReadsFromServer,
              vor32::ServerReads::Never);
    for (const std::string target : {"smb://u:s3cret@h/s/", "smb://u%3As3cret@h/s/",
                                     "nfs://:s3cret@h/e/", "ftp://h/s3cret/"}) {
        result = Parse({"4", "8", "4", "A", target});
        EXPECT_EQ(result.outcome, ParseOutcome::TargetRefused) << target;
        const std::string text = vor32::RefusalText(result);
        EXPECT_TRUE(text.starts_with("Target 2 is refused: the URL ")) << text;
        EXPECT_EQ(text.find("s3cret"), std::string::npos) << text;
    }
}

// The refused name used to be read from the result after the result had been moved away
// (seen with clang), leaving an empty name in the message.
TEST(ParseCommandLine, RefusalNamesTheLongName_SubjectReadAfterMove) {
    std::string name(236, 'n');
    auto result = Parse({"4", "8", "4", "A", "B", "/d", name});
    EXPECT_EQ(result.outcome, NameTooLong);
    EXPECT_EQ(result.subject, name);
    EXPECT_EQ(vor32::RefusalText(result),
              "Max file name length is 235; too long: '" + name + "'\n");
    auto path = Parse({"4", "8", "4", "A", std::string(60, 't'), "/d", std::string(20, 'n')});
    EXPECT_EQ(path.outcome, DataPathTooLong);
    EXPECT_EQ(path.subject, std::string(60, 't'));
}

TEST(ParseCommandLine, CheckedInCommandLineOrder) {
    // The first fault met is the one reported.
    EXPECT_EQ(Parse({"4", "8", "4", k68, "/x"}).outcome, TargetTooLong);
    EXPECT_EQ(Parse({"4", "8", "4", "/x", k68}).outcome, InvalidSwitch);
    EXPECT_EQ(Parse({"-4", "8", "4", "A", "/x"}).outcome, InvalidSwitch);
}

} // namespace
