// The session stress with its partner missing: each side waits out its 20 seconds on
// 127.0.0.2 or 127.0.0.3 with the real engine and provider. Slow by nature.
#include "engine_test_util.h"

using namespace zebtest;

namespace {

TEST(SessionTimeout, NoReceiverEndsTheSenderAfterMoreThan20Seconds) {
    std::uint16_t port = FreePortPair();
    ASSERT_NE(port, 0);
    ZebStation sender(Loopback("127.0.0.3", port), {"send", "5", "1000"});
    EXPECT_EQ(sender.Finish(), 2) << "the time-out is a failure";
    EXPECT_GE(sender.Seconds(), 20.0);
    EXPECT_LT(sender.Seconds(), 40.0);
    EXPECT_EQ(sender.Value("result"), "10");
    EXPECT_EQ(sender.Value("summary"), "") << "no session, no summary";

    auto lines = ReadLines(sender.Report());
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[0], "Sending 5 Blocks of 1000 Byte");
    EXPECT_EQ(lines[1], "Calling Receiver..");
    // Every attempt: nobody answers, then "calling receiver"; repeated without pause.
    const std::size_t attempts = (lines.size() - 3) / 2;
    EXPECT_GE(attempts, 3u);
    for (std::size_t i = 0; i < attempts; ++i) {
        EXPECT_EQ(lines[2 + 2 * i], "The system did not find the reciver") << i;
        EXPECT_EQ(lines[3 + 2 * i], "calling receiver") << i;
    }
    EXPECT_EQ(lines.size(), 3 + 2 * attempts);
    EXPECT_EQ(lines.back(), "Time out: cannot find receiver.. command cancelled");
    EXPECT_EQ(DecodeLog(sender.Log()),
              (Texts{"Time out: cannot find receiver.. command cancelled\n\r\n",
                     "Time out: cannot find receiver.. command cancelled\r\n"}));
}

TEST(SessionTimeout, NoSenderEndsTheReceiverAndReleasesItsName) {
    std::uint16_t port = FreePortPair();
    ASSERT_NE(port, 0);
    ZebStation receiver(Loopback("127.0.0.2", port), {"--hold", "recv"});
    ASSERT_TRUE(receiver.WaitFor("post Listening for Sender.."));
    // While it listens, the receiver defends its name on the test LAN.
    EXPECT_EQ(ClaimReceiverName(Loopback("127.0.0.3", port)), "0x16");
    EXPECT_EQ(receiver.ReadLine(40000), "post Receiver Timeout: please start again.");
    EXPECT_EQ(receiver.ReadLine(), "result 0") << "the name was deleted";
    // The receiver is still running, and its name is free.
    EXPECT_EQ(ClaimReceiverName(Loopback("127.0.0.3", port)), "0x00");
    EXPECT_EQ(receiver.Finish(), 3) << "a time-out is no failure";
    EXPECT_GE(receiver.Seconds(), 20.0);
    EXPECT_EQ(ReadLines(receiver.Report()), (Texts{"NETBIOS RECEIVE ", "Listening for Sender..",
                                                   "Receiver Timeout: please start again."}));
    EXPECT_FALSE(std::filesystem::exists(receiver.Log())) << "nothing for the log";
}

} // namespace
