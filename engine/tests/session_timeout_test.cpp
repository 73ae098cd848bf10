// The session stress with its partner missing: each side waits out its 20 seconds on
// 127.0.0.2 or 127.0.0.3 with the real engine and provider. Slow by nature.
#include "capture.h"
#include "engine_test_util.h"

#include <cstdio>

using namespace zebtest;

namespace {

// Two senders at once, each on a test LAN of its own: one finds no receiver at all, the other
// finds the receiver's name held by a station that has no listen, which refuses every call.
// Both call for more than 20 seconds, then give up; the refused calls are paced, so a capture
// of the session ports sees about one connection a second, not thousands.
TEST(SessionTimeout, NoReceiverEndsTheSenderAfterMoreThan20Seconds) {
    struct Row {
        const char* what;
        bool nameHeld;
    };
    const Row rows[] = {{"no receiver", false}, {"the receiver's name held, no listen", true}};
    std::uint16_t ports[2] = {};
    std::unique_ptr<ZebStation> holders[2];
    std::unique_ptr<ZebStation> senders[2];
    std::string filter = "(tcp[tcpflags] & (tcp-syn|tcp-ack)) == tcp-syn and (dst port ";
    for (int i = 0; i < 2; ++i) {
        do {
            ports[i] = FreePortPair();
        } while (i == 1 && ports[1] != 0 && ports[1] == ports[0]);
        ASSERT_NE(ports[i], 0);
        filter += std::to_string(ports[i] + 1) + (i == 0 ? " or dst port " : ")");
    }
    Capture capture(filter);
    for (int i = 0; i < 2; ++i) {
        if (rows[i].nameHeld) {
            holders[i] = std::make_unique<ZebStation>(Loopback("127.0.0.2", ports[i]),
                                                      Texts{"--hold", "claim", "ZEBSTRESSRECVER"});
            ASSERT_TRUE(holders[i]->WaitFor("claim 0x00"));
        }
        senders[i] = std::make_unique<ZebStation>(Loopback("127.0.0.3", ports[i]),
                                                  Texts{"send", "5", "1000"});
    }
    std::size_t calls[2] = {};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(rows[i].what);
        ZebStation& sender = *senders[i];
        EXPECT_EQ(sender.Finish(), 2) << "the time-out is a failure";
        EXPECT_GE(sender.Seconds(), 20.0);
        EXPECT_LT(sender.Seconds(), 40.0);
        EXPECT_EQ(sender.Value("result"), "10");
        EXPECT_EQ(sender.Value("summary"), "") << "no session, no summary";

        auto lines = ReadLines(sender.Report());
        ASSERT_GE(lines.size(), 5u);
        EXPECT_EQ(lines[0], "Sending 5 Blocks of 1000 Byte");
        EXPECT_EQ(lines[1], "Calling Receiver..");
        // Every attempt: nobody answers, then "calling receiver".
        calls[i] = (lines.size() - 3) / 2;
        EXPECT_GE(calls[i], 10u) << "the calls go on through the 20 seconds";
        EXPECT_LE(calls[i], 200u) << "refused calls are paced";
        for (std::size_t k = 0; k < calls[i]; ++k) {
            EXPECT_EQ(lines[2 + 2 * k], "The system did not find the reciver") << k;
            EXPECT_EQ(lines[3 + 2 * k], "calling receiver") << k;
        }
        EXPECT_EQ(lines.size(), 3 + 2 * calls[i]);
        EXPECT_EQ(lines.back(), "Time out: cannot find receiver.. command cancelled");
        EXPECT_EQ(sender.Posts().size(), lines.size()) << "the board shows the same lines";
        EXPECT_EQ(DecodeLog(sender.Log()),
                  (Texts{"Time out: cannot find receiver.. command cancelled\n\r\n",
                         "Time out: cannot find receiver.. command cancelled\r\n"}));
        std::printf("%s: %zu calls, %zu board lines in %.1f s\n", rows[i].what, calls[i],
                    lines.size(), sender.Seconds());
        if (holders[i]) {
            EXPECT_EQ(holders[i]->Finish(), 0);
        }
    }
    if (!capture.Why().empty()) {
        GTEST_SKIP() << "connections not counted: " << capture.Why();
    }
    // The connections each sender opened: at most one per call where the name is held (a
    // call whose name query went unanswered opens none), none where nobody answers for it.
    const Texts dstPorts = Lines(capture.Read("-T fields -e tcp.dstport"));
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(rows[i].what);
        const auto syns =
            static_cast<std::size_t>(std::ranges::count(dstPorts, std::to_string(ports[i] + 1)));
        EXPECT_LE(syns, rows[i].nameHeld ? calls[i] : 0);
        EXPECT_GE(syns, rows[i].nameHeld ? 10u : 0u);
        std::printf("%s: %zu connections\n", rows[i].what, syns);
    }
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
