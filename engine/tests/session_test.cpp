// The session sender and receiver against a scripted provider and scripted clocks: the block
// format byte for byte, the working sizes, the 20-second waits at their boundary, the send
// and receive error paths, the pair check and the block numbering.
#include "clocks.h"
#include "engine_test_util.h"
#include "netreq.h"
#include "receiver.h"
#include "sender.h"
#include "status.h"

#include <deque>

using namespace zebtest;

namespace {

using Bytes = std::vector<unsigned char>;

// A station at the other end, as the engine sees it through Netbios.
struct ScriptedPeer {
    Bytes requests;                         // command codes of every request but the probe's
    Bytes lsns;                             // ncb_lsn of each request
    std::deque<unsigned char> callAnswers;  // for successive calls; NRC_NOCALL when empty
    std::vector<Bytes> sent;                // every send's bytes, as long as ncb_length said
    std::vector<int> sendFailures;          // send number (from 0) that fails...
    unsigned char sendFailure = NRC_SABORT; // ...with this code
    std::deque<Bytes> toReceive;            // the blocks the receives take, in order
    unsigned char endOfSession = NRC_SCLOSED;
    NCB* listen = nullptr; // the outstanding listen
    unsigned char deleteEndsListenWith = NRC_CMDCAN;
};

ScriptedPeer* Peer = nullptr;

unsigned char Answer(NCB* ncb, unsigned char code) {
    ncb->ncb_retcode = code;
    ncb->ncb_cmd_cplt = code;
    return code;
}

unsigned char Script(NCB* ncb) {
    const unsigned char command = ncb->ncb_command & 0x7f;
    if (command == 0x7f) {
        return Answer(ncb, ncb->ncb_lana_num == 0 ? NRC_ILLCMD : NRC_BRIDGE);
    }
    if (command == NCBRESET) {
        return Answer(ncb, NRC_GOODRET);
    }
    Peer->requests.push_back(command);
    Peer->lsns.push_back(ncb->ncb_lsn);
    switch (command) {
    case NCBADDNAME:
        ncb->ncb_num = 2;
        return Answer(ncb, NRC_GOODRET);
    case NCBDELNAME:
        if (Peer->listen != nullptr) {
            Answer(Peer->listen, Peer->deleteEndsListenWith);
            Peer->listen = nullptr;
        }
        return Answer(ncb, NRC_GOODRET);
    case NCBCALL: {
        unsigned char code = NRC_NOCALL;
        if (!Peer->callAnswers.empty()) {
            code = Peer->callAnswers.front();
            Peer->callAnswers.pop_front();
        }
        ncb->ncb_lsn = code == NRC_GOODRET ? 7 : 0;
        return Answer(ncb, code);
    }
    case NCBLISTEN:
        Peer->listen = ncb;
        Answer(ncb, NRC_PENDING);
        return NRC_GOODRET;
    case NCBSEND: {
        const int index = static_cast<int>(Peer->sent.size());
        Peer->sent.emplace_back(ncb->ncb_buffer, ncb->ncb_buffer + ncb->ncb_length);
        const bool fails = std::ranges::count(Peer->sendFailures, index) > 0;
        return Answer(ncb, fails ? Peer->sendFailure : NRC_GOODRET);
    }
    case NCBRECV: {
        if (Peer->toReceive.empty()) {
            return Answer(ncb, Peer->endOfSession);
        }
        const Bytes& block = Peer->toReceive.front();
        std::copy(block.begin(), block.end(), ncb->ncb_buffer);
        ncb->ncb_length = static_cast<unsigned short>(block.size());
        Peer->toReceive.pop_front();
        return Answer(ncb, NRC_GOODRET);
    }
    default:
        return Answer(ncb, NRC_GOODRET);
    }
}

// Completes the outstanding listen as the provider's thread would.
void CompleteListen(unsigned char code, unsigned char lsn) {
    Peer->listen->ncb_lsn = lsn;
    Answer(Peer->listen, code);
    Peer->listen = nullptr;
}

// A seconds clock that completes the outstanding listen at reading `at`, with lsn and code;
// it reads what clock says, standing still unless told otherwise.
std::function<std::int64_t(int)> ListenEndsAt(
    int at, unsigned char lsn = 3, unsigned char code = NRC_GOODRET,
    std::int64_t (*clock)(int) = [](int) { return std::int64_t{0}; }) {
    return [=](int n) {
        if (n == at) {
            CompleteListen(code, lsn);
        }
        return clock(n);
    };
}

// Scripted clocks: every reading of the seconds clock calls Tick with the number of readings
// so far and returns what it returns; the millisecond clock reads 1000, then 1500.
std::function<std::int64_t(int)> Tick;
int SecondsReadings = 0;
int MillisecondReadings = 0;

class Session : public ::testing::Test {
  protected:
    void SetUp() override {
        Peer = &peer_;
        NetbiosCall = &Script;
        SecondsClock = [] { return Tick(SecondsReadings++); };
        MillisecondClock = [] { return std::int64_t{MillisecondReadings++ == 0 ? 1000 : 1500}; };
        SecondsReadings = 0;
        MillisecondReadings = 0;
        Tick = [](int n) { return std::int64_t{100 + n}; }; // a second per reading
        PassDynaResult(1);
        PassSaveResult(1);
    }
    void TearDown() override {
        PassDynaResult(0);
        PassSaveResult(0);
        NetbiosCall = &Netbios;
        SecondsClock = &MonotonicSeconds;
        MillisecondClock = &ProcessMilliseconds;
    }
    // The texts between two others (exclusive), or everything after `from` when `to` is "".
    Texts Between(const std::string& from, const std::string& to) {
        const Texts& texts = BoardTexts();
        auto begin = std::ranges::find(texts, from);
        begin += begin == texts.end() ? 0 : 1;
        return {begin, std::find(begin, texts.end(), to)};
    }
    // Every text shown on the board, in order.
    const Texts& BoardTexts() { return dialog_.Board()->Shown(); }

    Scratch scratch_;
    ScriptedPeer peer_;
    EngineDialog dialog_; // the engine's dialog for the life of the test
};

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Block(unsigned size, const Bytes& data) {
    return Bytes{static_cast<unsigned char>(size), static_cast<unsigned char>(size >> 8)} + data;
}

TEST(WorkingSize, LowSixteenBitsAtMost64000AndEven) {
    const unsigned cases[][2] = {{1, 0},         {2, 2},         {3, 2},         {401, 400},
                                 {63999, 63998}, {64000, 64000}, {64001, 64000}, {65535, 64000},
                                 {65536, 0},     {65537 + 2, 2}, {0, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(WorkingSize(c[0]), c[1]) << c[0];
    }
}

TEST_F(Session, BlocksCarryTheSizeThePatternAndTheTerminatorByteForByte) {
    peer_.callAnswers = {NRC_GOODRET, NRC_GOODRET, NRC_GOODRET};
    EXPECT_EQ(SSendMain(2, 65535), 1);
    EXPECT_EQ(SSendMain(1, 3), 1);
    EXPECT_EQ(SSendMain(1, 0x10000 + 401), 1); // only the low 16 bits count
    ASSERT_EQ(peer_.sent.size(), 4u);
    for (const Bytes& b : peer_.sent) {
        EXPECT_EQ(b.size(), 64002u) << "every block travels at full length";
    }
    // 64000: header FA00 little-endian, the whole pattern, no terminator on the wire.
    EXPECT_EQ(peer_.sent[0], Block(64000, PairPattern(64000)));
    EXPECT_EQ(peer_.sent[1], peer_.sent[0]);
    EXPECT_EQ(BlockBuffer[BLOCK_LENGTH], 0) << "the terminator lands behind the block";
    // 3 -> 2: 02 00 20 DF 00, then whatever the buffer held: the longer pattern before.
    const Bytes& small = peer_.sent[2];
    EXPECT_EQ(Bytes(small.begin(), small.begin() + 5), (Bytes{0x02, 0x00, 0x20, 0xDF, 0x00}));
    EXPECT_TRUE(std::equal(small.begin() + 5, small.end(), peer_.sent[0].begin() + 5));
    // 401 -> 400: one period of the pattern, pair 199 is E7 18, then the terminator.
    const Bytes& period = peer_.sent[3];
    EXPECT_EQ(Bytes(period.begin(), period.begin() + 403), Block(400, PairPattern(400)) + Bytes{0});
    EXPECT_EQ(period[400], 0xE7);
    EXPECT_EQ(period[401], 0x18);
}

TEST_F(Session, CleanSendPostsItsTextsInOrderAndTheSummaryAtLevel100) {
    peer_.callAnswers = {NRC_NOCALL, NRC_GOODRET};
    EXPECT_EQ(SSendMain(2, 1000), 1);
    EXPECT_EQ(BoardTexts(), (Texts{"Sending 2 Blocks of 1000 Byte", "Calling Receiver..",
                                   "The system did not find the reciver", "calling receiver",
                                   "calling receiver", " Receiver identified",
                                   "SEND SESSION BEGIN Transfering [2] blocks of [1000] bytes ",
                                   "  4.0 KB/s 2000 bytes transfered"}));
    EXPECT_STREQ(GetMsgBuffer(), "  4.0 KB/s 2000 bytes transfered");
    // Delete before add, add, two calls, two sends on the call's session, hang-up, delete.
    EXPECT_EQ(peer_.requests, (Bytes{NCBDELNAME, NCBADDNAME, NCBCALL, NCBCALL, NCBSEND, NCBSEND,
                                     NCBHANGUP, NCBDELNAME}));
    EXPECT_EQ(peer_.lsns[4], 7);
    EXPECT_EQ(peer_.lsns[6], 7);
    EXPECT_EQ(DecodeLog(scratch_.Log()),
              (Texts{"SEND SESSION BEGIN Transfering [2] blocks of [1000] bytes \r\n",
                     "  4.0 KB/s 2000 bytes transfered\r\n"}));
}

TEST_F(Session, SendErrorStopsTheBlocksAndMarksTheSummary) {
    EXPECT_TRUE(InChildPasses([&] {
        peer_.callAnswers = {NRC_GOODRET};
        peer_.sendFailures = {2};
        EXPECT_EQ(SSendMain(10, 1000), 1) << "a session ran";
        EXPECT_EQ(peer_.sent.size(), 3u) << "nothing sent after the failed block";
        EXPECT_EQ(GetRetCode(), 2);
        // Only the two blocks that went out count.
        EXPECT_STREQ(GetMsgBuffer(), "  4.0 KB/s 2000 bytes transfered  Data Corrupted!");
        EXPECT_EQ(Between("SEND SESSION BEGIN Transfering [10] blocks of [1000] bytes ", ""),
                  (Texts{"Send Error 18", "  4.0 KB/s 2000 bytes transfered  Data Corrupted!"}));
        EXPECT_EQ(peer_.requests.back(), NCBDELNAME);
        EXPECT_EQ(peer_.requests[peer_.requests.size() - 2], NCBHANGUP);
    }));
    auto log = DecodeLog(scratch_.Log());
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1], "Send Error 18\n\r\n");
    EXPECT_EQ(log[2], "  4.0 KB/s 2000 bytes transfered  Data Corrupted!\r\n");
}

TEST_F(Session, SendErrorOnTheFirstBlockCountsNothing) {
    EXPECT_TRUE(InChildPasses([&] {
        peer_.callAnswers = {NRC_GOODRET};
        peer_.sendFailures = {0};
        peer_.sendFailure = NRC_SCLOSED;
        EXPECT_EQ(SSendMain(10, 1000), 1);
        EXPECT_EQ(peer_.sent.size(), 1u);
        EXPECT_STREQ(GetMsgBuffer(), "  0.0 KB/s 0 bytes transfered  Data Corrupted!");
        EXPECT_EQ(BoardTexts()[BoardTexts().size() - 2], "Send Error 0A");
    }));
}

TEST_F(Session, ACountOfZeroOrLessSendsNothing) {
    peer_.callAnswers = {NRC_GOODRET, NRC_GOODRET};
    EXPECT_EQ(SSendMain(0, 1000), 1);
    EXPECT_EQ(SSendMain(-1, 1000), 1);
    EXPECT_TRUE(peer_.sent.empty());
    EXPECT_STREQ(GetMsgBuffer(), "  0.0 KB/s 0 bytes transfered");
    EXPECT_EQ(BoardTexts()[BoardTexts().size() - 2],
              "SEND SESSION BEGIN Transfering [4294967295] blocks of [1000] bytes ");
}

// The call is repeated until the clock has moved more than 20 seconds: with one second per
// reading, the 21st call is the last.
TEST_F(Session, NoReceiverTimesOutAfterMoreThan20Seconds) {
    EXPECT_TRUE(InChildPasses([&] {
        PostStatus("earlier summary", LEVEL_SUMMARY);
        EXPECT_EQ(SSendMain(5, 1000), 10);
        EXPECT_EQ(std::count(peer_.requests.begin(), peer_.requests.end(), NCBCALL), 21);
        auto attempts =
            Between("Calling Receiver..", "Time out: cannot find receiver.. command cancelled");
        ASSERT_EQ(attempts.size(), 42u);
        EXPECT_EQ(attempts[40], "The system did not find the reciver");
        EXPECT_EQ(attempts[41], "calling receiver");
        EXPECT_EQ(BoardTexts().back(), "Time out: cannot find receiver.. command cancelled");
        EXPECT_EQ(GetRetCode(), 2);
        EXPECT_STREQ(GetMsgBuffer(), "earlier summary") << "no summary without a session";
        EXPECT_EQ(peer_.requests.back(), NCBDELNAME);
        EXPECT_TRUE(peer_.sent.empty());
    }));
    EXPECT_EQ(DecodeLog(scratch_.Log()),
              (Texts{"Time out: cannot find receiver.. command cancelled\n\r\n",
                     "Time out: cannot find receiver.. command cancelled\r\n"}));
}

TEST_F(Session, ACallAnsweredInTheLastSecondIsTaken) {
    peer_.callAnswers.assign(20, NRC_NOCALL);
    peer_.callAnswers.push_back(NRC_GOODRET); // the 21st, as the clock runs out
    EXPECT_EQ(SSendMain(1, 2), 1);
    EXPECT_EQ(peer_.sent.size(), 1u);
}

TEST_F(Session, SenderNameThatCannotBeAddedEndsTheRun) {
    NetbiosCall = [](NCB* ncb) -> unsigned char {
        if ((ncb->ncb_command & 0x7f) == NCBADDNAME) {
            Peer->requests.push_back(NCBADDNAME);
            return Answer(ncb, NRC_DUPNAME);
        }
        return Script(ncb);
    };
    EXPECT_TRUE(InChildPasses([&] {
        EXPECT_EQ(SSendMain(5, 1000), 0);
        EXPECT_EQ(peer_.requests, (Bytes{NCBDELNAME, NCBADDNAME}));
        EXPECT_EQ(BoardTexts().back(), "\n\n0x0D error with add name...");
    }));
}

TEST_F(Session, ReceiverNumbersChecksAndCountsEveryBlock) {
    peer_.toReceive = {Block(1000, PairPattern(1000) + Bytes{0}), Block(0, {}),
                       Block(64000, PairPattern(64000))};
    // The sender calls after three polls.
    Tick = ListenEndsAt(3, 9, NRC_GOODRET, [](int) { return std::int64_t{100}; });
    EXPECT_EQ(SRecvMain(), 0);
    EXPECT_EQ(BoardTexts(),
              (Texts{"NETBIOS RECEIVE ", "Listening for Sender..", "Sender Identified ",
                     "RECEIVE SESSION BEGIN ", "Received block   1 Size = 1000 Bytes",
                     "Received block   2 Size = 0 Bytes", "Received block   3 Size = 64K Bytes",
                     "Session closed by Sender", "RECEIVE SESSION END ", "65000 Bytes received.",
                     "130.0 KB/s"}));
    EXPECT_GE(dialog_.window.Dispatches(), 3) << "the wait pumps messages";
    // Receives and the hang-up go to the listen's session.
    EXPECT_EQ(peer_.requests, (Bytes{NCBDELNAME, NCBADDNAME, NCBLISTEN, NCBRECV, NCBRECV, NCBRECV,
                                     NCBRECV, NCBHANGUP, NCBDELNAME}));
    EXPECT_EQ(peer_.lsns[3], 9);
    EXPECT_EQ(peer_.lsns[7], 9);
    EXPECT_EQ(ReadLines(scratch_.Path("report.txt")).size(), 11u);
    EXPECT_EQ(
        DecodeLog(scratch_.Log()),
        (Texts{"Sender Identified \r\n", "Received block   1 Size = 1000 Bytes\r\n",
               "Received block   2 Size = 0 Bytes\r\n", "Received block   3 Size = 64K Bytes\r\n",
               "65000 Bytes received.\r\n", "130.0 KB/s\r\n"}));
}

TEST_F(Session, BadPairsAreReportedOncePerBlockAndTheBlockStillCounts) {
    EXPECT_TRUE(InChildPasses([&] {
        Bytes damaged = PairPattern(1000) + Bytes{0};
        damaged[0x10] = 0x28;
        damaged[0x11] = 0x00; // ends the copy: the check sees stale bytes behind
        Bytes twice = PairPattern(1000) + Bytes{0};
        twice[0x20 + 1] = 0x42;
        twice[0x40] = 0x01;
        // A damaged header: an odd size takes the byte at offset 5 into the last
        // pair, here the terminator.
        Bytes odd = Block(5, Bytes{0x20, 0xDF, 0x21, 0xDE, 0x22, 0x00});
        peer_.toReceive = {Block(1000, damaged), Block(1000, twice), odd,
                           Block(1000, PairPattern(1000) + Bytes{0})};
        Tick = ListenEndsAt(1);
        EXPECT_EQ(SRecvMain(), 0);
        EXPECT_EQ(
            Between("RECEIVE SESSION BEGIN ", "Session closed by Sender"),
            (Texts{"Received block   1 Size = 1000 Bytes", "\nExpected 28h,D7h but read 28h, 0h",
                   "\nRead verify failed at TESTFILE offset 10\n",
                   "Received block   2 Size = 1000 Bytes", "\nExpected 30h,CFh but read 30h,42h",
                   "\nRead verify failed at TESTFILE offset 20\n",
                   "Received block   3 Size = 5 Bytes", "\nExpected 22h,DDh but read 22h, 0h",
                   "\nRead verify failed at TESTFILE offset 4\n",
                   "Received block   4 Size = 1000 Bytes"}));
        EXPECT_EQ(BoardTexts()[BoardTexts().size() - 2], "3005 Bytes received.");
        EXPECT_EQ(GetRetCode(), 2);
    }));
}

// Wherever the first bad pair lies, within whole words or in the tail behind them, it is
// the one reported; a good buffer of any length passes.
TEST_F(Session, VerifyPairsFindsTheFirstBadPairAnywhere) {
    EXPECT_TRUE(InChildPasses([&] {
        for (unsigned length : {0u, 2u, 6u, 8u, 10u, 1002u, 64000u}) {
            const Bytes good = PairPattern(length);
            std::copy(good.begin(), good.end(), PatternBuffer);
            EXPECT_EQ(VerifyPairs(length), 0u) << length;
            for (unsigned bad : {0u, 6u, 8u, length / 2 & ~1u, length - 2}) {
                if (length < 2 || bad > length - 2) {
                    continue;
                }
                std::copy(good.begin(), good.end(), PatternBuffer);
                PatternBuffer[bad + 1] ^= 0x10;
                PatternBuffer[length - 1] ^= length - 2 == bad ? 0 : 0x01; // a later one
                EXPECT_EQ(VerifyPairs(length), bad + 1) << length << " " << bad;
            }
        }
    }));
}

// A header may state any 16-bit size; the check stays inside the check buffer and reports
// where the stated data outruns what came.
TEST_F(Session, AHeaderBeyondTheBlockIsCheckedWithinTheCheckBuffer) {
    std::fill(PatternBuffer, PatternBuffer + PATTERN_BUFFER_SIZE, 0);
    peer_.toReceive = {Block(0xFFFF, PairPattern(64000))};
    Tick = ListenEndsAt(0);
    EXPECT_TRUE(InChildPasses([&] {
        SRecvMain();
        EXPECT_EQ(Between("Received block   1 Size = 65535 Bytes", "Session closed by Sender"),
                  (Texts{"\nExpected  0h,FFh but read  0h, 0h",
                         "\nRead verify failed at TESTFILE offset FA00\n"}));
        EXPECT_EQ(BoardTexts()[BoardTexts().size() - 2], "64000 Bytes received.")
            << "the bytes that came, not the size stated";
    }));
}

TEST_F(Session, BlockNumbersWrapAfter65535) {
    peer_.toReceive.assign(65537, Block(0, {}));
    Tick = ListenEndsAt(0);
    PassSaveResult(0);
    SRecvMain();
    auto blocks = Between("RECEIVE SESSION BEGIN ", "Session closed by Sender");
    ASSERT_EQ(blocks.size(), 65537u);
    EXPECT_EQ(blocks[0], "Received block   1 Size = 0 Bytes");
    EXPECT_EQ(blocks[65534], "Received block 65535 Size = 0 Bytes");
    EXPECT_EQ(blocks[65535], "Received block   0 Size = 0 Bytes");
    EXPECT_EQ(blocks[65536], "Received block   1 Size = 0 Bytes");
}

// Only the sender's hang-up ends a session whole: any other end of the receives (the session
// cut, a message longer than a block, the receive time-out) ends it failed, with its totals.
TEST_F(Session, AnyOtherEndOfTheReceivesIsAFailedSession) {
    struct Row {
        unsigned char code;
        const char* text;
    };
    for (const Row row :
         {Row{NRC_SABORT, "Netbios Error Return 18"}, Row{NRC_INCOMP, "Netbios Error Return  6"},
          Row{NRC_CMDTMO, "Netbios Error Return  5"}}) {
        SCOPED_TRACE(row.text);
        EXPECT_TRUE(InChildPasses([&] {
            peer_.toReceive = {Block(2, {0x20, 0xDF, 0})};
            peer_.endOfSession = row.code;
            Tick = ListenEndsAt(0);
            EXPECT_EQ(SRecvMain(), 0);
            EXPECT_EQ(Between("Received block   1 Size = 2 Bytes", ""),
                      (Texts{row.text, "RECEIVE SESSION END ", "2 Bytes received.", "  0.0 KB/s"}));
            EXPECT_EQ(peer_.requests[peer_.requests.size() - 2], NCBHANGUP);
            EXPECT_EQ(GetRetCode(), 2);
        }));
    }
}

// The wait ends once the clock has moved more than 20 seconds: 21 polls at one second each.
// Deleting the name then ends the listen that is still outstanding.
TEST_F(Session, NoSenderTimesOutAndTheNameDeletionEndsTheListen) {
    EXPECT_TRUE(InChildPasses([&] {
        EXPECT_EQ(SRecvMain(), 0);
        EXPECT_EQ(BoardTexts(), (Texts{"NETBIOS RECEIVE ", "Listening for Sender..",
                                       "Receiver Timeout: please start again."}));
        EXPECT_EQ(SecondsReadings, 22) << "the start and 21 polls";
        EXPECT_EQ(peer_.requests, (Bytes{NCBDELNAME, NCBADDNAME, NCBLISTEN, NCBDELNAME}));
        EXPECT_EQ(peer_.listen, nullptr);
        EXPECT_NE(CommandComplete(&SessionNcb), NRC_PENDING);
        EXPECT_EQ(GetRetCode(), 3) << "a time-out is no failure";
    }));
    EXPECT_FALSE(std::filesystem::exists(scratch_.Log()));
}

TEST_F(Session, ASenderInTheLastPollIsTaken) {
    peer_.toReceive = {Block(2, {0x20, 0xDF, 0})};
    // Completes in the poll that runs out of time.
    Tick = ListenEndsAt(21, 3, NRC_GOODRET, [](int n) { return std::int64_t{n}; });
    SRecvMain();
    EXPECT_EQ(BoardTexts()[2], "Sender Identified ");
    EXPECT_EQ(BoardTexts()[4], "Received block   1 Size = 2 Bytes");
}

TEST_F(Session, AListenEndedWithAnErrorReceivesNothing) {
    EXPECT_TRUE(InChildPasses([&] {
        Tick = ListenEndsAt(2, 0, NRC_SABORT);
        EXPECT_EQ(SRecvMain(), 0);
        EXPECT_EQ(BoardTexts().back(), "Error: Session not Created..24");
        EXPECT_EQ(peer_.requests, (Bytes{NCBDELNAME, NCBADDNAME, NCBLISTEN, NCBDELNAME}));
        EXPECT_EQ(GetRetCode(), 2);
    }));
    EXPECT_EQ(DecodeLog(scratch_.Log()), (Texts{"Error: Session not Created..24\n\r\n"}));
}

// A message shorter than its header says, or too short to hold a header: the bytes that never
// came are not those the block before left behind, and they are no part of the total. The
// check reports the first pair that is bad or did not come whole.
TEST_F(Session, AMessageShorterThanItsHeaderFailsTheCheck) {
    peer_.toReceive = {Block(64000, PairPattern(64000)), Block(1000, PairPattern(8)), Bytes{},
                       Bytes{0x00}, Block(2, Bytes{0xFF})};
    Tick = ListenEndsAt(0);
    EXPECT_TRUE(InChildPasses([&] {
        SRecvMain();
        EXPECT_EQ(
            Between("Received block   1 Size = 64K Bytes", ""),
            (Texts{
                "Received block   2 Size = 1000 Bytes", "\nExpected  0h,FFh but read  0h,DBh",
                "\nRead verify failed at TESTFILE offset 8\n", "Received block   3 Size = 0 Bytes",
                "\nRead verify failed at TESTFILE offset 0\n", "Received block   4 Size = 0 Bytes",
                "\nRead verify failed at TESTFILE offset 0\n", "Received block   5 Size = 2 Bytes",
                "\nRead verify failed at TESTFILE offset 0\n", "Session closed by Sender",
                "RECEIVE SESSION END ", "64009 Bytes received.", "128.0 KB/s"}));
        EXPECT_EQ(GetRetCode(), 2);
    }));
}

// A transfer that starts and ends within one millisecond (blocks that only filled the socket
// buffers) has its rate computed over one millisecond, on either side.
TEST_F(Session, ATransferWithinOneMillisecondIsRatedOverOne) {
    MillisecondClock = [] { return std::int64_t{1000}; };
    peer_.callAnswers = {NRC_GOODRET};
    EXPECT_EQ(SSendMain(50, 64000), 1);
    EXPECT_STREQ(GetMsgBuffer(), "3200000.0 KB/s 3200000 bytes transfered");
    peer_.toReceive = {Block(1000, PairPattern(1000) + Bytes{0})};
    SecondsReadings = 0;
    Tick = ListenEndsAt(0);
    SRecvMain();
    EXPECT_EQ(BoardTexts().back(), "1000.0 KB/s");
}

} // namespace
