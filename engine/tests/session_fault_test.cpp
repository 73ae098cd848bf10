// The session stress when the other side goes away in the middle of a session: the sender
// process killed, and the network link between the two hosts cut. The side left behind ends
// with its receive or send error within its time-out, failed, posts its totals and releases
// its name, and a new session can start at once.
#include "engine_test_util.h"

#include <chrono>

using namespace zebtest;

namespace {

// The receiver's report after its last block: the end of the session and the totals, whose
// byte count is that of the blocks it announced.
void ExpectTotalsAfter(const Texts& lines, const std::string& ending, unsigned long blockSize) {
    const auto end = std::ranges::find(lines, ending);
    const std::size_t at = end - lines.begin();
    const std::size_t blocks = std::count_if(lines.begin(), end, [](const std::string& line) {
        return line.rfind("Received block ", 0) == 0;
    });
    ASSERT_LT(at + 3, lines.size() + 0) << "no " << ending;
    EXPECT_GT(blocks, 0u);
    EXPECT_EQ(lines[at + 1], "RECEIVE SESSION END ");
    EXPECT_EQ(lines[at + 2], std::to_string(blocks * blockSize) + " Bytes received.");
    EXPECT_NE(lines[at + 3].find(" KB/s"), std::string::npos) << lines[at + 3];
    EXPECT_EQ(lines.size(), at + 4);
}

TEST(SenderGone, KilledMidSessionTheReceiverEndsAndANewSessionStartsAtOnce) {
    std::uint16_t port = FreePortPair();
    ASSERT_NE(port, 0);
    {
        ZebStation receiver(Loopback("127.0.0.2", port), {"--hold", "recv"});
        ASSERT_TRUE(receiver.WaitFor("post Listening for Sender.."));
        ZebStation sender(Loopback("127.0.0.3", port), {"--quiet", "send", "30000", "64000"});
        ASSERT_TRUE(receiver.WaitFor("post Received block  20 Size = 64K Bytes"));
        kill(sender.Pid(), SIGKILL);
        // Killed within a block the session was cut (0x18); between two blocks the kernel's
        // close looks like a hang-up.
        std::string line;
        do {
            line = receiver.ReadLine(40000);
        } while (line.rfind("post Received block ", 0) == 0);
        EXPECT_TRUE(line == "post Netbios Error Return 18" ||
                    line == "post Session closed by Sender")
            << line;
        EXPECT_EQ(receiver.ReadLine(), "post RECEIVE SESSION END ");
        ASSERT_TRUE(receiver.WaitFor("result 0")) << "the receiver's name was deleted";
        EXPECT_EQ(ClaimReceiverName(Loopback("127.0.0.4", port)), "0x00") << "the name is free";
        // A session cut in the middle of a block did not complete: a failure.
        EXPECT_EQ(receiver.Finish(), line == "post Session closed by Sender" ? 3 : 2);
        ExpectTotalsAfter(ReadLines(receiver.Report()), line.substr(5), 64000);
    }
    // The same station again, at once: a whole clean session.
    ZebStation receiver(Loopback("127.0.0.2", port), {"recv"});
    ASSERT_TRUE(receiver.WaitFor("post Listening for Sender..", 5000));
    ZebStation sender(Loopback("127.0.0.3", port), {"send", "5", "64000"});
    EXPECT_EQ(sender.Finish(), 3);
    EXPECT_EQ(receiver.Finish(), 3);
    EXPECT_EQ(sender.Value("result"), "1");
    ExpectTotalsAfter(ReadLines(receiver.Report()), "Session closed by Sender", 64000);
}

// Two hosts in two network namespaces on a veth link of their own (192.0.2.0/24, no route
// beyond it). Skipped where namespaces cannot be made.
using LinkCut = VethHostsTest;

TEST_F(LinkCut, BothSidesEndWithinTheirTimeOutsWithTheirErrors) {
    ZebStation receiver(InNamespace(a_, "192.0.2.1"), {"recv"});
    ASSERT_TRUE(receiver.WaitFor("post Listening for Sender..")) << "receiver not listening";
    ZebStation sender(InNamespace(b_, "192.0.2.2"), {"--quiet", "send", "30000", "64000"});
    ASSERT_TRUE(receiver.WaitFor("post Received block  20 Size = 64K Bytes"));
    ASSERT_EQ(Shell("ip -n " + b_ + " link set " + hosts_.LinkB() + " down").status, 0);
    const auto cut = std::chrono::steady_clock::now();
    // Each side's send or receive time-out is 30 seconds from the start of the request under
    // way when the link went down.
    EXPECT_EQ(sender.Finish(60000), 2) << "a send error is a failure";
    EXPECT_LT(std::chrono::steady_clock::now() - cut, std::chrono::seconds(40));
    EXPECT_EQ(receiver.Finish(60000), 2) << "and so is a receive error";
    EXPECT_LT(std::chrono::steady_clock::now() - cut, std::chrono::seconds(40));

    EXPECT_EQ(sender.Value("result"), "1");
    const Texts sent = ReadLines(sender.Report());
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent[sent.size() - 2], "Send Error 05");
    // The blocks that went out before the send failed.
    const std::string tail = " bytes transfered  Data Corrupted!";
    ASSERT_GT(sent.back().size(), tail.size());
    EXPECT_EQ(sent.back().substr(sent.back().size() - tail.size()), tail) << sent.back();
    const std::size_t kbs = sent.back().find(" KB/s ");
    ASSERT_NE(kbs, std::string::npos) << sent.back();
    EXPECT_EQ(std::stoul(sent.back().substr(kbs + 6)) % 64000, 0u) << sent.back();
    EXPECT_EQ(receiver.Value("result"), "0") << "the receiver's name was deleted";
    ExpectTotalsAfter(ReadLines(receiver.Report()), "Netbios Error Return  5", 64000);
}

} // namespace
