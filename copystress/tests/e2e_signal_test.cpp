// The operator's end of the real binary: the first SIGINT, SIGTERM or SIGHUP ends the run
// after the transfer under way, with totals and exit code 0; a second one ends it at once.
#include "test_support.h"

#include <csignal>

#include <sys/wait.h>
#include <unistd.h>

namespace vor32_test {
namespace {

using FirstSignal = Vor32ParamTest<int>;

// The signal waits, blocked, until the program takes over its handling at start: it is the
// ScrollLock that was on before the first transfer.
TEST_P(FirstSignal, BeforeTheFirstTransferEndsAfterIt) {
    options.pendingSignals = {GetParam()};
    Outcome outcome = Vor32Process({"0", "4000000", "4", "A", "B", "/h"}, options).Finish();
    ASSERT_TRUE(ExitedWith(outcome, 0)); // even with /h
    ASSERT_EQ(Transfers(outcome.output).size(), 1u) << outcome.output;
    TotalsFacts totals{0, 4000000, 4, 1000000, 1, 4, false};
    std::string masked = MaskRunTimes(outcome.output);
    ASSERT_EQ(masked.rfind(StartUpBlock(0, 4000000, 4, 1200000) + kSeparators, 0), 0u) << masked;
    EXPECT_EQ(masked.substr(masked.find("Secs\n") + 5),
              "\n\nTerminated by user.\n" + Totals(totals, false));
    // "Terminated by user." is for the console only.
    EXPECT_EQ(MaskRunTimes(ReadFile(dir / "VOR32.LOG")),
              StartUpBlock(0, 4000000, 4, 1200000, true) + Totals(totals, true));
}

INSTANTIATE_TEST_SUITE_P(Signals, FirstSignal, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         zebtest::Named([](int s) {
                             return std::string("SIG") + sigabbrev_np(s);
                         }));

using OperatorEnd = Vor32Test;

TEST_F(OperatorEnd, SigintDuringTheRunEndsAfterTheTransferUnderWay) {
    dir.Make({"C"});
    Vor32Process process({"100000", "400000000", "100000", "A", "B", "C", "/v"}, options);
    ASSERT_TRUE(process.ReadUntil("\n#001 "));
    process.Signal(SIGINT);
    Outcome outcome = process.Finish();
    ASSERT_TRUE(ExitedWith(outcome, 0));
    std::vector<Transfer> transfers = Transfers(outcome.output);
    ASSERT_GE(transfers.size(), 1u);
    std::size_t terminated = outcome.output.find("Secs\n\n\nTerminated by user.\n");
    ASSERT_NE(terminated, std::string::npos);
    EXPECT_EQ(outcome.output.find("\n#", terminated), std::string::npos);
    char count[64];
    std::snprintf(count, sizeof count, "  Current Transfer#: %06ld\n\r", transfers.back().number);
    EXPECT_NE(outcome.output.find(count), std::string::npos);
    EXPECT_TRUE(MaskRunTimes(outcome.output).ends_with("Time Copying:           <copying>\n\r"));
    // The data file where the run stopped is whole.
    EXPECT_EQ(ReadFile(dir / transfers.back().destination / kDataName),
              Cells(static_cast<std::uint32_t>(transfers.back().size)));
}

TEST_F(OperatorEnd, SecondSignalBeforeAnythingEndsAtOnceWith130) {
    options.pendingSignals = {SIGINT, SIGTERM};
    Outcome outcome = Vor32Process({"0", "4000000", "4", "A", "B"}, options).Finish();
    ASSERT_TRUE(ExitedWith(outcome, 130));
    EXPECT_EQ(outcome.output, "");
}

// The second signal comes while the program sits in a console write that nobody takes: it
// ends at once all the same, and the log it leaves ends in a whole line.
TEST_F(OperatorEnd, SecondSignalEndsAtOnceThoughTheConsoleTakesNoOutput) {
    options.pipeSize = 4096;
    Vor32Process process({"400", "4000000", "4", "A", "B", "/v"}, options);
    ASSERT_TRUE(process.WaitBlockedOnOutput());
    process.Signal(SIGINT);
    process.Signal(SIGTERM);
    // Nothing is read from the full pipe until the program has ended.
    siginfo_t ended{};
    for (int waited = 0; waited < 10000 && ended.si_pid == 0; waited += 5) {
        ASSERT_EQ(
            waitid(P_PID, static_cast<id_t>(process.Pid()), &ended, WEXITED | WNOHANG | WNOWAIT),
            0);
        if (ended.si_pid == 0) {
            usleep(5000);
        }
    }
    ASSERT_NE(ended.si_pid, 0) << "still waiting on the console";
    Outcome outcome = process.Finish();
    ASSERT_TRUE(ExitedWith(outcome, 130));
    EXPECT_EQ(outcome.output.find("Terminated by user."), std::string::npos);
    std::string log = ReadFile(dir / "VOR32.LOG");
    ASSERT_TRUE(log.ends_with(" Secs\r\n")) << log.substr(log.size() - 200);
    EXPECT_FALSE(Transfers(log).empty());
}

TEST_F(OperatorEnd, IgnoredSigintStaysIgnored) {
    // A shell starts background jobs with SIGINT ignored; SIGTERM still ends the run.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction previous {};
    sigaction(SIGINT, &ignore, &previous);
    options.keepIgnoredSigint = true;
    options.pendingSignals = {SIGINT};
    Vor32Process process({"0", "8", "4", "A", "B"}, options);
    sigaction(SIGINT, &previous, nullptr);
    ASSERT_TRUE(process.ReadUntil("\n#003 "));
    process.Signal(SIGTERM);
    Outcome outcome = process.Finish();
    ASSERT_TRUE(ExitedWith(outcome, 0));
    EXPECT_NE(outcome.output.find("Terminated by user."), std::string::npos);
}

} // namespace
} // namespace vor32_test
