// The status output: what each level does, in which order, and what the exports keep.
#include "engine_test_util.h"
#include "status.h"

using namespace zebtest;
namespace {

TEST(EngineAtLoad, ResultThreeEmptySummaryNoOutputs) {
    Scratch scratch;
    EXPECT_TRUE(InChildPasses([] {
        EXPECT_EQ(GetRetCode(), 3);
        EXPECT_STREQ(GetMsgBuffer(), "");
        PostStatus("not saved", LEVEL_PROGRESS); // both switches start off
    }));
    EXPECT_FALSE(std::filesystem::exists(scratch.Path("report.txt")));
}

struct LevelCase {
    std::uint16_t level;
    bool failure;
    bool summary;
};

class LevelTable : public ::testing::TestWithParam<LevelCase> {};

TEST_P(LevelTable, EffectsOfEachLevel) {
    const LevelCase c = GetParam();
    Scratch scratch;
    EXPECT_TRUE(InChildPasses([&] {
        PostStatus("summary before", LEVEL_SUMMARY);
        EngineDialog dialog;
        PassDynaResult(1);
        PassSaveResult(1);
        PostStatus("the text", c.level);
        EXPECT_EQ(GetRetCode(), c.failure ? 2 : 3);
        EXPECT_STREQ(GetMsgBuffer(), c.summary ? "the text" : "summary before");
        // Board text first, then the drain with the dialog's input off.
        EXPECT_EQ(dialog.calls, (Texts{"child 1008", "board text the text", "dialog disable",
                                       "dialog dispatch", "dialog enable"}));
    }));
    EXPECT_EQ(ReadLines(scratch.Path("report.txt")), Texts{"the text"});
    if (c.failure) {
        EXPECT_EQ(DecodeLog(scratch.Log()), Texts{"the text\n\r\n"});
    } else {
        EXPECT_FALSE(std::filesystem::exists(scratch.Log()));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Levels, LevelTable,
    ::testing::Values(LevelCase{0, false, false}, LevelCase{1, false, false},
                      LevelCase{5, false, false}, LevelCase{9, true, false},
                      LevelCase{99, false, false}, LevelCase{100, false, true},
                      LevelCase{101, true, false}, LevelCase{200, false, false},
                      LevelCase{65535, false, false}),
    zebtest::Named([](const LevelCase& c) { return "level" + std::to_string(c.level); }));

// Each test posts under a scratch $WINDIR and current directory of its own.
class StatusOutput : public ::testing::Test {
  protected:
    Scratch scratch;
};

TEST_F(StatusOutput, FailureWithBothSwitchesOffStillCountsAndLogs) {
    EXPECT_TRUE(InChildPasses([] {
        EngineDialog dialog;
        dialog.calls.clear();
        PostFailure("bad");
        EXPECT_EQ(GetRetCode(), 2);
        EXPECT_EQ(dialog.calls, (Texts{"dialog disable", "dialog dispatch", "dialog enable"}));
        EXPECT_EQ(dialog.Board()->Text(), "");
    }));
    EXPECT_FALSE(std::filesystem::exists(scratch.Path("report.txt")));
    EXPECT_EQ(DecodeLog(scratch.Log()).size(), 1u);
}

TEST_F(StatusOutput, ResultCodeStaysFailedThroughLaterCleanTests) {
    EXPECT_TRUE(InChildPasses([] {
        PostFailure("one failure");
        for (int i = 0; i < 5; ++i) {
            PostStatus("File I/O Passed", LEVEL_PROGRESS);
            PostStatus("rate", LEVEL_SUMMARY);
        }
        EXPECT_EQ(GetRetCode(), 2);
    }));
}

TEST_F(StatusOutput, ReportTxtFollowsTheSwitchAndKeepsNewlines) {
    EXPECT_TRUE(InChildPasses([] {
        PassSaveResult(1);
        PostStatus("Passed", LEVEL_PROGRESS);
        PostStatus("ends in newline\n", LEVEL_PROGRESS);
        PostStatus("\nbegins with one", LEVEL_PROGRESS);
        PassSaveResult(0);
        PostStatus("not appended", LEVEL_PROGRESS);
    }));
    EXPECT_EQ(ReadFile(scratch.Path("report.txt")),
              "Passed\nends in newline\n\n\nbegins with one\n");
}

TEST_F(StatusOutput, UnwritableReportDropsTheRecordButPostingGoesOn) {
    std::filesystem::create_directory(scratch.Path("report.txt")); // cannot be opened as a file
    EXPECT_TRUE(InChildPasses([] {
        PassSaveResult(1);
        EngineDialog dialog;
        PassDynaResult(1);
        PostFailure("still shown");
        EXPECT_EQ(GetRetCode(), 2);
        EXPECT_EQ(dialog.Board()->Text(), "still shown");
    }));
    EXPECT_EQ(DecodeLog(scratch.Log()).size(), 1u);
}

TEST_F(StatusOutput, BoardShowsOnlyTheLatestTextAndNothingWithoutControl1008) {
    EXPECT_TRUE(InChildPasses([] {
        PassDynaResult(1);
        EngineDialog dialog;
        PostStatus("first", LEVEL_PROGRESS);
        PostFailure("second");
        PostStatus("third", 42);
        EXPECT_EQ(dialog.Board()->Text(), "third");

        Texts calls2;
        RecordingWindow noBoard(&calls2, /*hasBoard=*/false);
        EXPECT_EQ(GetHWND(&noBoard), &noBoard);
        PostStatus("nowhere to show", LEVEL_PROGRESS);
        EXPECT_EQ(calls2,
                  (Texts{"child 1008", "dialog disable", "dialog dispatch", "dialog enable"}));
        // Without any window, posting and pumping go on without effect.
        GetHWND(nullptr);
        PostStatus("headless", LEVEL_SUMMARY);
        EXPECT_STREQ(GetMsgBuffer(), "headless");
    }));
}

TEST_F(StatusOutput, SummaryIsCutToItsBuffer) {
    EXPECT_TRUE(InChildPasses([] {
        PostStatus(std::string(500, 's').c_str(), LEVEL_SUMMARY);
        EXPECT_EQ(std::string(GetMsgBuffer()), std::string(119, 's'));
    }));
}

TEST_F(StatusOutput, MessageBufferFormattingIsBounded) {
    FormatMessage("Test File: %s", std::string(1000, 'm').c_str());
    EXPECT_EQ(std::strlen(MessageBuffer), MESSAGE_BUFFER_SIZE - 1);
    EXPECT_EQ(std::string(MessageBuffer, 11), "Test File: ");
}

TEST_F(StatusOutput, MessageBoxWithoutWindowGoesToStandardError) {
    GetHWND(nullptr);
    ::testing::internal::CaptureStderr();
    ShowMessageBox("Error", "the text");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Error: the text\n");
}

} // namespace
