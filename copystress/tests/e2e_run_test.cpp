// Whole runs of the real binary on temporary directories: output, log and data files.
#include "test_support.h"

#include <regex>

namespace vor32_test {
namespace {

// The lines of the console output that begin with "#", each with its line feed.
std::string TransferLines(const std::string& output, bool logged) {
    std::string lines;
    for (const std::string& line : zebtest::Lines(output)) {
        if (line.starts_with('#')) {
            lines += line + (logged ? "\r\n" : "\n");
        }
    }
    return lines;
}

using WholeRun = Vor32Test;

TEST_F(WholeRun, FiveThousandToTwoHundredThousandByHundredsLogs1950Transfers) {
    Outcome outcome = RunHere({"5000", "200000", "100", "A", "B", "C", "/t"}, {"C"});
    ASSERT_TRUE(ExitedWith(outcome, 0));

    std::vector<Transfer> transfers = Transfers(outcome.output);
    ASSERT_EQ(transfers.size(), 1950u);
    for (std::size_t i = 0; i < transfers.size(); ++i) {
        EXPECT_EQ(transfers[i].number, static_cast<long>(i + 1));
        EXPECT_EQ(transfers[i].size, 5100 + 100 * static_cast<long>(i));
        EXPECT_NE(transfers[i].source, transfers[i].destination);
        if (i > 0) {
            EXPECT_EQ(transfers[i].source, transfers[i - 1].destination);
        }
    }
    EXPECT_EQ(transfers.back().size, 200000);
    std::regex first("\n#001 {20}A/ -> {19}C/ {6}5100 Bytes +[0-9]+ Secs\n");
    EXPECT_TRUE(std::regex_search(outcome.output, first));

    TotalsFacts totals{5000, 200000, 100, 1950, 1950, 199972500, true};
    EXPECT_EQ(MaskRunTimes(outcome.output),
              StartUpBlock(5000, 200000, 100, 200000, false, {"A", "B", "C"}) + kSeparators +
                  TransferLines(outcome.output, false) + Totals(totals, false));

    // Without /v the log holds the start-up block and the totals.
    EXPECT_EQ(MaskRunTimes(ReadFile(dir / "VOR32.LOG")),
              StartUpBlock(5000, 200000, 100, 200000, true, {"A", "B", "C"}) +
                  Totals(totals, true));

    // The last destination holds the full file; the unlogged last copy went on from it.
    EXPECT_EQ(ReadFile(dir / transfers.back().destination / kDataName), Cells(200000));
}

TEST_F(WholeRun, ExitCodeThreeWithSwitchH) {
    ASSERT_TRUE(ExitedWith(RunHere({"8", "16", "4", "A", "B", "/th"}), 3));
}

struct SequenceRow {
    int targets;
    std::vector<int> destinations;
};

using DestinationSequence = Vor32ParamTest<SequenceRow>;

TEST_P(DestinationSequence, FollowsTheFixedGenerator) {
    std::vector<std::string> args = {"0", "32", "4"};
    for (int t = 0; t < GetParam().targets; ++t) {
        dir.Make({"T" + std::to_string(t)});
        args.push_back("T" + std::to_string(t));
    }
    args.push_back("/t");
    Outcome outcome = RunHere(args);
    ASSERT_TRUE(ExitedWith(outcome, 0));
    std::vector<Transfer> transfers = Transfers(outcome.output);
    ASSERT_EQ(transfers.size(), GetParam().destinations.size());
    std::string source = "T0/";
    for (std::size_t i = 0; i < transfers.size(); ++i) {
        EXPECT_EQ(transfers[i].source, source);
        EXPECT_EQ(transfers[i].destination, "T" + std::to_string(GetParam().destinations[i]) + "/");
        source = transfers[i].destination;
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, DestinationSequence,
                         ::testing::Values(SequenceRow{2, {1, 0, 1, 0, 1, 0, 1, 0}},
                                           SequenceRow{3, {2, 0, 1, 2, 0, 1, 0, 1}},
                                           SequenceRow{4, {1, 3, 2, 0, 1, 0, 2, 3}}),
                         zebtest::Named([](const SequenceRow& r) {
                             return "targets" + std::to_string(r.targets);
                         }));

TEST_F(WholeRun, MinSizeNotBelowMaxSizeMakesOneUnloggedCopy) {
    Outcome outcome = RunHere({"8", "8", "4", "A", "B", "/t"});
    ASSERT_TRUE(ExitedWith(outcome, 0));
    EXPECT_EQ(outcome.output.find("Bytes/Sec"), std::string::npos);
    EXPECT_NE(outcome.output.find("  Time Copying:           00 Hours  00 Minutes 00 Seconds\n\r"),
              std::string::npos);
    EXPECT_EQ(MaskRunTimes(outcome.output),
              StartUpBlock(8, 8, 4, 8) + kSeparators + Totals({8, 8, 4, 0, 0, 0, true}, false));
    EXPECT_EQ(ReadFile(dir / "B" / kDataName), Cells(8));
}

TEST_F(WholeRun, MinSizeAboveMaxSizeNeedsNoTransfers) {
    Outcome outcome = RunHere({"20004", "20000", "4", "A", "B", "/t"});
    ASSERT_TRUE(ExitedWith(outcome, 0));
    EXPECT_NE(
        outcome.output.find("  Total number of transfers needed to reach MaxSize: 000000\n\r"),
        std::string::npos);
    EXPECT_EQ(ReadFile(dir / "A" / kDataName), Cells(20004));
    EXPECT_EQ(ReadFile(dir / "B" / kDataName), Cells(20004));
}

TEST_F(WholeRun, DataFileOfZeroBytes) {
    Outcome outcome = RunHere({"0", "4", "4", "A", "B", "/t"});
    ASSERT_TRUE(ExitedWith(outcome, 0));
    std::vector<Transfer> transfers = Transfers(outcome.output);
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_EQ(transfers[0].size, 4);
    EXPECT_EQ(ReadFile(dir / "B" / kDataName), Cells(4));
    EXPECT_EQ(ReadFile(dir / "A" / kDataName), Cells(4));
}

TEST_F(WholeRun, GrowthOf5000By100AppendsCells1250To1274) {
    ASSERT_TRUE(ExitedWith(RunHere({"5000", "5100", "100", "A", "B", "/t"}), 0));
    std::string grown = ReadFile(dir / "B" / kDataName);
    ASSERT_EQ(grown.size(), 5100u);
    EXPECT_EQ(grown, Cells(5100));
    // cell 1250 at offset 5000: E2 04 00 00; cell 1274 at offset 5096: FA 04 00 00
    EXPECT_EQ(grown.substr(5000, 4), std::string("\xE2\x04\x00\x00", 4));
    EXPECT_EQ(grown.substr(5096, 4), std::string("\xFA\x04\x00\x00", 4));
}

TEST_F(WholeRun, GrowthOvershootsMaxSizeByLessThanAnIncrement) {
    ASSERT_TRUE(ExitedWith(RunHere({"0", "10", "12", "A", "B", "/t"}), 0));
    EXPECT_EQ(ReadFile(dir / "A" / kDataName), Cells(12));
}

using VerboseSwitches = Vor32ParamTest<std::vector<std::string>>;

TEST_P(VerboseSwitches, LogEverythingWithCrLf) {
    std::vector<std::string> args = {"8", "16", "4", "A", "B"};
    args.insert(args.end(), GetParam().begin(), GetParam().end());
    Outcome outcome = RunHere(args);
    ASSERT_TRUE(ExitedWith(outcome, 0));
    ASSERT_EQ(Transfers(outcome.output).size(), 2u);
    TotalsFacts totals{8, 16, 4, 2, 2, 12 + 16, true};
    std::string log = ReadFile(dir / "VOR32.LOG");
    EXPECT_EQ(MaskRunTimes(log),
              StartUpBlock(8, 16, 4, 16, true) +
                  "_______________________________________________________\r\n"
                  "-------------------------------------------------------\n\r\n" +
                  TransferLines(outcome.output, true) + Totals(totals, true));
}

INSTANTIATE_TEST_SUITE_P(Spellings, VerboseSwitches,
                         ::testing::Values(std::vector<std::string>{"/TV"},
                                           std::vector<std::string>{"-tv"},
                                           std::vector<std::string>{"/t", "/v"}),
                         zebtest::NamedRows([](const std::vector<std::string>& s) {
                             return zebtest::Joined("switches", s);
                         }));

TEST_F(WholeRun, StandardOutputClosedNeverMixesIntoTheLog) {
    options.closeStandardOutput = true;
    ASSERT_TRUE(
        ExitedWith(Vor32Process({"8", "16", "4", "A", "B", "/t", "/v"}, options).Finish(), 0));
    std::string log = ReadFile(dir / "VOR32.LOG");
    EXPECT_EQ(MaskTimes(log).rfind(StartUpBlock(8, 16, 4, 16, true), 0), 0u) << log;
    EXPECT_EQ(Transfers(log).size(), 2u);
}

} // namespace
} // namespace vor32_test
