// The session stress end to end: two stations as two processes on 127.0.0.2 and 127.0.0.3,
// each loading the real engine and the real provider, on a test LAN of their own ports.
#include "engine_test_util.h"

#include <regex>

using namespace zebtest;

namespace {

class SessionStress : public ::testing::Test {
  protected:
    void SetUp() override {
        port_ = FreePortPair();
        ASSERT_NE(port_, 0) << "no free loopback ports";
    }

    // Starts the receiver, waits until it listens, then runs the sender with args to its end.
    void Run(const Texts& senderArgs, const Texts& receiverArgs = {"recv"}) {
        receiver_ = std::make_unique<ZebStation>(Loopback("127.0.0.2", port_), receiverArgs);
        ASSERT_TRUE(receiver_->WaitFor("post Listening for Sender..")) << "receiver not listening";
        sender_ = std::make_unique<ZebStation>(Loopback("127.0.0.3", port_), senderArgs);
        senderStatus_ = sender_->Finish();
        receiverStatus_ = receiver_->Finish();
    }

    std::uint16_t port_ = 0;
    std::unique_ptr<ZebStation> receiver_;
    std::unique_ptr<ZebStation> sender_;
    int senderStatus_ = -1;
    int receiverStatus_ = -1;
};

// True when text is a rate as "%5.1f KB/s" prints it, followed by rest.
bool IsRate(const std::string& text, const std::string& rest = "") {
    const std::string tail = " KB/s" + rest;
    return text.size() >= 5 + tail.size() && text.ends_with(tail) &&
           std::regex_match(text.substr(0, text.size() - tail.size()),
                            std::regex(" *[0-9]+\\.[0-9]"));
}

// The sender's report with its calling attempts checked and folded into one line: each
// attempt is "calling receiver", preceded by "The system did not find the reciver" when the
// receiver did not answer.
Texts FoldCalls(const Texts& lines) {
    Texts out;
    bool calling = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] == "The system did not find the reciver") {
            EXPECT_TRUE(i + 1 < lines.size() && lines[i + 1] == "calling receiver") << i;
            continue;
        }
        if (lines[i] == "calling receiver") {
            if (!calling) {
                out.push_back("<calls>");
            }
            calling = true;
            continue;
        }
        calling = false;
        out.push_back(lines[i]);
    }
    return out;
}

// Receiver's lines of a clean session of blocks of one size, before the rate line.
Texts CleanReceive(int blocks, const std::string& sizeText, unsigned long total) {
    Texts lines = {"NETBIOS RECEIVE ", "Listening for Sender..", "Sender Identified ",
                   "RECEIVE SESSION BEGIN "};
    for (int b = 1; b <= blocks; ++b) {
        char line[80];
        std::snprintf(line, sizeof line, "Received block %3d Size = %s", b, sizeText.c_str());
        lines.push_back(line);
    }
    lines.insert(lines.end(), {"Session closed by Sender", "RECEIVE SESSION END ",
                               std::to_string(total) + " Bytes received."});
    return lines;
}

TEST_F(SessionStress, ThreeBlocksOf1000FromSenderToReceiver) {
    Run({"send", "3", "1000"});
    EXPECT_EQ(senderStatus_, 3) << ReadFile(sender_->Report());
    EXPECT_EQ(receiverStatus_, 3) << ReadFile(receiver_->Report());
    EXPECT_EQ(sender_->Value("result"), "1");
    EXPECT_EQ(receiver_->Value("result"), "0") << "the receiver's name was deleted";

    auto received = ReadLines(receiver_->Report());
    ASSERT_EQ(received.size(), 11u);
    EXPECT_TRUE(IsRate(received.back())) << received.back();
    const std::string rate = received.back();
    received.pop_back();
    EXPECT_EQ(received, CleanReceive(3, "1000 Bytes", 3000));
    EXPECT_EQ(receiver_->Posts().back(), rate) << "the board shows every text too";
    EXPECT_EQ(DecodeLog(receiver_->Log()),
              (Texts{"Sender Identified \r\n", "Received block   1 Size = 1000 Bytes\r\n",
                     "Received block   2 Size = 1000 Bytes\r\n",
                     "Received block   3 Size = 1000 Bytes\r\n", "3000 Bytes received.\r\n",
                     rate + "\r\n"}));

    auto sent = FoldCalls(ReadLines(sender_->Report()));
    ASSERT_EQ(sent.size(), 6u);
    const std::string summary = sent.back();
    EXPECT_TRUE(IsRate(summary, " 3000 bytes transfered")) << summary;
    EXPECT_EQ(sender_->Value("summary"), summary) << "the summary is the level-100 text";
    sent.pop_back();
    const std::string begin = "SEND SESSION BEGIN Transfering [3] blocks of [1000] bytes ";
    EXPECT_EQ(sent, (Texts{"Sending 3 Blocks of 1000 Byte", "Calling Receiver..", "<calls>",
                           " Receiver identified", begin}));
    EXPECT_EQ(DecodeLog(sender_->Log()), (Texts{begin + "\r\n", summary + "\r\n"}));
}

// Requested sizes and what travels: the low 16 bits, at most 64000, lowered to even.
TEST_F(SessionStress, OddTinyAndOversizedSizesTravelAsTheirWorkingSize) {
    struct Case {
        const char* requested;
        const char* announced;
        unsigned long total; // of two blocks
    };
    for (const Case& c : {Case{"1", "0 Bytes", 0}, Case{"3", "2 Bytes", 4},
                          Case{"401", "400 Bytes", 800}, Case{"65535", "64K Bytes", 128000}}) {
        SCOPED_TRACE(c.requested);
        Run({"send", "2", c.requested});
        EXPECT_EQ(senderStatus_, 3);
        EXPECT_EQ(receiverStatus_, 3) << "every pair of every block good";
        auto received = ReadLines(receiver_->Report());
        ASSERT_FALSE(received.empty());
        received.pop_back();
        EXPECT_EQ(received, CleanReceive(2, c.announced, c.total));
        auto sent = ReadLines(sender_->Report());
        EXPECT_EQ(sent.front(), std::string("Sending 2 Blocks of ") + c.requested + " Byte");
        EXPECT_TRUE(IsRate(sent.back(), " " + std::to_string(c.total) + " bytes transfered"))
            << sent.back();
        if (c.total == 0) {
            EXPECT_EQ(sent.back(), "  0.0 KB/s 0 bytes transfered");
        }
    }
}

TEST_F(SessionStress, HundredFullBlocks) {
    Run({"send", "100", "64000"});
    EXPECT_EQ(senderStatus_, 3);
    EXPECT_EQ(receiverStatus_, 3);
    auto received = ReadLines(receiver_->Report());
    ASSERT_EQ(received.size(), 108u);
    received.pop_back();
    EXPECT_EQ(received, CleanReceive(100, "64K Bytes", 6400000));
    EXPECT_TRUE(IsRate(sender_->Value("summary"), " 6400000 bytes transfered"))
        << sender_->Value("summary");
}

// An observer on each side is told of every block, in order, with the data bytes it moved; a
// message shorter than its header states is a block that did not come whole.
TEST_F(SessionStress, AnObserverIsToldOfEveryBlockSentAndReceived) {
    struct Case {
        Texts sender;
        const char* sent; // "blocks <count> <ok> <bytes> <in order>"
        const char* received;
    };
    for (const Case& c :
         {Case{{"--observe", "send", "3", "1000"}, "3 3 3000 1", "3 3 3000 1"},
          Case{{"--observe", "send", "40", "64000"}, "40 40 2560000 1", "40 40 2560000 1"},
          Case{{"--observe", "send", "2", "1"}, "2 2 0 1", "2 2 0 1"},
          Case{{"raw", "1000", "1000/500", "400"}, "<no blocks>", "3 2 1898 1"}}) {
        SCOPED_TRACE(c.sender[1]);
        Run(c.sender, {"--observe", "recv"});
        EXPECT_EQ(sender_->Value("blocks"), c.sent);
        EXPECT_EQ(receiver_->Value("blocks"), c.received) << ReadFile(receiver_->Report());
    }
}

// A sender at the provider level sends what the engine never would: damaged pairs.
TEST_F(SessionStress, DamagedPairsAreReportedAndTheSessionGoesOn) {
    Run({"raw", "1000@10=28,00", "1000", "1000@20=41,42@30=00,00", "64000@F9FE=20,20"});
    EXPECT_EQ(sender_->Value("raw"), "sent 4");
    EXPECT_EQ(receiverStatus_, 2) << "a failed pair check marks the run failed";
    auto lines = ReadLines(receiver_->Report());
    ASSERT_FALSE(lines.empty());
    lines.pop_back();
    // The report as written: each bad pair's two texts begin and end with a line feed.
    EXPECT_EQ(lines,
              Lines("NETBIOS RECEIVE \nListening for Sender..\nSender Identified \n"
                    "RECEIVE SESSION BEGIN \nReceived block   1 Size = 1000 Bytes\n\n"
                    "Expected 28h,D7h but read 28h, 0h\n\n"
                    "Read verify failed at TESTFILE offset 10\n\n"
                    "Received block   2 Size = 1000 Bytes\n"
                    "Received block   3 Size = 1000 Bytes\n\n"
                    "Expected 41h,BEh but read 41h,42h\n\n"
                    "Read verify failed at TESTFILE offset 20\n\n"
                    "Received block   4 Size = 64K Bytes\n\n"
                    "Expected 20h,DFh but read 20h,20h\n\n"
                    "Read verify failed at TESTFILE offset F9FE\n\n"
                    "Session closed by Sender\nRECEIVE SESSION END \n67000 Bytes received."));
    auto log = DecodeLog(receiver_->Log());
    ASSERT_EQ(log.size(), 13u);
    EXPECT_EQ(log[2], "\nExpected 28h,D7h but read 28h, 0h\n\r\n");
    EXPECT_EQ(log[3], "\nRead verify failed at TESTFILE offset 10\n\n\r\n");
    EXPECT_EQ(log[4], "Received block   2 Size = 1000 Bytes\r\n");
    EXPECT_EQ(log[6], "\nExpected 41h,BEh but read 41h,42h\n\r\n");
    EXPECT_EQ(log[11], "67000 Bytes received.\r\n");
}

} // namespace
