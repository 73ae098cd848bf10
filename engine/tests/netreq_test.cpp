// The NetBIOS request layer against a scripted provider: the probe before every request, the
// fields of every NCB, and what is posted on failures.
#include "engine_test_util.h"
#include "netreq.h"
#include "status.h"

#include <iterator>
#include <map>

using namespace zebtest;

namespace {

// What the scripted provider saw: a copy of each NCB at the time of the call, and where it was.
struct Seen {
    NCB ncb;
    NCB* address;
};

std::vector<Seen> Calls;
int InstalledLana = 0;                          // -1: no adapter at all
std::map<unsigned char, unsigned char> Answers; // command (without ASYNCH) -> return code
unsigned char AnswerForUnbound = NRC_BRIDGE;
unsigned char NameNumber = 1;

unsigned char Script(NCB* ncb) {
    Calls.push_back({*ncb, ncb});
    unsigned char code = NRC_GOODRET;
    unsigned char command = ncb->ncb_command & 0x7f;
    if (ncb->ncb_lana_num != InstalledLana) {
        code = AnswerForUnbound;
    } else if (command == 0x7f) {
        code = NRC_ILLCMD;
    } else if (auto it = Answers.find(command); it != Answers.end()) {
        code = it->second;
    }
    if (command == NCBADDNAME && code == NRC_GOODRET) {
        ncb->ncb_num = NameNumber;
    }
    // An asynchronous command that goes out completes later, in the test's own time.
    const bool pending = (ncb->ncb_command & ASYNCH) != 0 && code == NRC_GOODRET;
    ncb->ncb_retcode = pending ? NRC_PENDING : code;
    ncb->ncb_cmd_cplt = ncb->ncb_retcode;
    return code;
}

class NetRequests : public ::testing::Test {
  protected:
    void SetUp() override {
        Calls.clear();
        Answers.clear();
        InstalledLana = 0;
        AnswerForUnbound = NRC_BRIDGE;
        NameNumber = 1;
        NetbiosCall = &Script;
    }
    void TearDown() override { NetbiosCall = &Netbios; }

    // The calls that are not part of a probe sequence.
    static std::vector<Seen> Requests() {
        std::vector<Seen> out;
        std::ranges::copy_if(Calls, std::back_inserter(out), [](const Seen& s) {
            return s.ncb.ncb_command != NCBRESET && s.ncb.ncb_command != 0x7f;
        });
        return out;
    }

    static std::string Field(const unsigned char* f) {
        return std::string(reinterpret_cast<const char*>(f), NCBNAMSZ);
    }
};

// The probe reuses its NCB from adapter to adapter, so the previous answer may remain in
// ncb_retcode and ncb_cmd_cplt; every other field must be zero.
bool AllZeroExcept(const NCB& ncb, unsigned char command, unsigned char lana) {
    // Field by field: the record's padding bytes say nothing. The return codes are the
    // provider's to write.
    const auto zero = [](const auto& bytes) {
        return std::all_of(std::begin(bytes), std::end(bytes),
                           [](unsigned char b) { return b == 0; });
    };
    return ncb.ncb_command == command && ncb.ncb_lana_num == lana && ncb.ncb_lsn == 0 &&
           ncb.ncb_num == 0 && ncb.ncb_buffer == nullptr && ncb.ncb_length == 0 &&
           zero(ncb.ncb_callname) && zero(ncb.ncb_name) && ncb.ncb_rto == 0 && ncb.ncb_sto == 0 &&
           ncb.ncb_post == nullptr && zero(ncb.ncb_reserve) && ncb.ncb_event == nullptr;
}

TEST_F(NetRequests, EveryRequestProbesAfreshAndGoesToTheFirstInstalledAdapter) {
    InstalledLana = 3;
    SessionLsn = 7;
    NetSend(&DataNcb);
    NetReceive(&DataNcb);
    ASSERT_EQ(Calls.size(), 12u); // reset, four probes, the request; twice
    for (std::size_t r = 0; r < 2; ++r) {
        const Seen* c = &Calls[6 * r];
        EXPECT_TRUE(AllZeroExcept(c[0].ncb, NCBRESET, 0)) << "reset with every field zero";
        for (int lana = 0; lana <= 3; ++lana) {
            EXPECT_TRUE(AllZeroExcept(c[1 + lana].ncb, 0x7f, static_cast<unsigned char>(lana)));
        }
        const NCB& req = c[5].ncb;
        EXPECT_EQ(c[5].address, &DataNcb);
        EXPECT_EQ(req.ncb_command, r == 0 ? NCBSEND : NCBRECV);
        EXPECT_EQ(req.ncb_lana_num, 3);
        EXPECT_EQ(req.ncb_lsn, 7);
        EXPECT_EQ(req.ncb_buffer, BlockBuffer);
        EXPECT_EQ(req.ncb_length, 64002);
        EXPECT_EQ(req.ncb_rto, 0);
        EXPECT_EQ(req.ncb_post, nullptr);
    }
    EXPECT_EQ(BlockBuffer[BLOCK_LENGTH], 0) << "the byte behind a block is zero";
}

TEST_F(NetRequests, NamesAreCopiedZeroFilledNeverSpacePadded) {
    NetCall("ZEBSTRESSRECVER", "ZEBSTRESSSENDER", &SessionNcb);
    NetListen("AB", "ZEBSTRESSRECVER", &SessionNcb);
    // A listen returns while outstanding.
    EXPECT_EQ(CommandComplete(&SessionNcb), NRC_PENDING);
    NetCall("ANAMEOFTWENTYCHARSXX", "ZEBSTRESSSENDER", &SessionNcb);
    auto r = Requests();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(Field(r[0].ncb.ncb_callname), std::string("ZEBSTRESSRECVER\0", 16));
    EXPECT_EQ(Field(r[0].ncb.ncb_name), std::string("ZEBSTRESSSENDER\0", 16));
    EXPECT_EQ(r[0].ncb.ncb_command, NCBCALL);
    EXPECT_EQ(r[0].ncb.ncb_rto, 60);
    EXPECT_EQ(r[0].ncb.ncb_sto, 60);
    EXPECT_EQ(r[0].address, &SessionNcb);

    EXPECT_EQ(r[1].ncb.ncb_command, NCBLISTEN | ASYNCH);
    EXPECT_EQ(Field(r[1].ncb.ncb_callname), std::string("AB\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 16));
    EXPECT_EQ(r[1].ncb.ncb_rto, 60);
    EXPECT_EQ(r[1].ncb.ncb_sto, 60);

    // Longer names are cut at 15 characters: the 16th byte stays zero and nothing spills
    // into the neighbouring field.
    EXPECT_EQ(Field(r[2].ncb.ncb_callname), std::string("ANAMEOFTWENTYCH\0", 16));
    EXPECT_EQ(Field(r[2].ncb.ncb_name), std::string("ZEBSTRESSSENDER\0", 16));
}

TEST_F(NetRequests, AddNameDeletesFirstAndReturnsTheNameNumber) {
    NameNumber = 5;
    EXPECT_EQ(NetAddName("ZEBSTRESSSENDER", 1), 5);
    EXPECT_EQ(NetAddName("GROUPNAME", 0), 0); // the script gives group adds no number
    auto r = Requests();
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0].ncb.ncb_command, NCBDELNAME);
    EXPECT_EQ(Field(r[0].ncb.ncb_name), std::string("ZEBSTRESSSENDER\0", 16));
    EXPECT_EQ(r[1].ncb.ncb_command, NCBADDNAME);
    EXPECT_EQ(r[3].ncb.ncb_command, NCBADDGRNAME);
    // Every one of the four probed first: 4 x (reset + one probe) besides the requests.
    EXPECT_EQ(Calls.size(), 12u);
}

TEST_F(NetRequests, AddNameFailureIsPostedAsAFailure) {
    Scratch scratch;
    EXPECT_TRUE(InChildPasses([] {
        EngineDialog window;
        PassDynaResult(1);
        Answers[NCBDELNAME] = NRC_NOWILD; // nothing to delete: ignored
        Answers[NCBADDNAME] = NRC_INUSE;
        EXPECT_EQ(NetAddUniqueName("ZEBSTRESSRECVER"), 0);
        EXPECT_EQ(window.Board()->Text(), "\n\n0x16 error with add name...");
        EXPECT_EQ(GetRetCode(), ZEB_RESULT_FAILED);
        // A name number of 0 counts as failure, without a message of its own.
        Answers.clear();
        NameNumber = 0;
        window.Board()->SetText("");
        EXPECT_EQ(NetAddUniqueName("ZEBSTRESSRECVER"), 0);
        EXPECT_EQ(window.Board()->Text(), "");
    }));
    auto log = DecodeLog(scratch.Log());
    ASSERT_EQ(log.size(), 1u);
    EXPECT_NE(log[0].find("0x16 error with add name..."), std::string::npos);
}

TEST_F(NetRequests, WithNoAdapterTheRequestGoesToAdapter255AndFails) {
    InstalledLana = -1; // every probe answered NRC_BRIDGE
    Scratch scratch;
    EXPECT_TRUE(InChildPasses([] {
        EngineDialog window;
        PassDynaResult(1);
        EXPECT_EQ(FindLana(), -1);
        Calls.clear();
        EXPECT_EQ(NetAddUniqueName("ZEBSTRESSSENDER"), 0);
        // Delete and add: each a reset, 33 probes (0 to 32) and the request on 255.
        ASSERT_EQ(Calls.size(), 2u * (1 + 33 + 1));
        EXPECT_EQ(Calls[33].ncb.ncb_lana_num, 32);
        auto r = Requests();
        ASSERT_EQ(r.size(), 2u);
        EXPECT_EQ(r[1].ncb.ncb_lana_num, 255);
        EXPECT_EQ(window.Board()->Text(), "\n\n0x23 error with add name...");
        EXPECT_EQ(GetRetCode(), ZEB_RESULT_FAILED);
    }));
}

TEST_F(NetRequests, NoCallIsAnnouncedWithoutMarkingTheRunFailed) {
    Scratch scratch;
    EXPECT_TRUE(InChildPasses([] {
        EngineDialog window;
        PassDynaResult(1);
        Answers[NCBCALL] = NRC_NOCALL;
        EXPECT_EQ(NetCall("ZEBSTRESSRECVER", "ZEBSTRESSSENDER", &SessionNcb), NRC_NOCALL);
        EXPECT_EQ(SessionNcb.ncb_retcode, NRC_NOCALL);
        EXPECT_EQ(window.Board()->Text(), "The system did not find the reciver");
        EXPECT_EQ(GetRetCode(), ZEB_RESULT_PASSED);
        // Other failures pass silently: the callers report them.
        window.Board()->SetText("");
        Answers[NCBHANGUP] = NRC_SNUMOUT;
        EXPECT_EQ(NetHangup(&SessionNcb, 9), NRC_SNUMOUT);
        EXPECT_EQ(window.Board()->Text(), "");
    }));
}

TEST_F(NetRequests, CancelGoesOutOnlyForAnOutstandingCommand) {
    NetCall("ZEBSTRESSRECVER", "ZEBSTRESSSENDER", &SessionNcb); // synchronous: completed
    Calls.clear();
    NetCancel(&SessionNcb);
    EXPECT_TRUE(Calls.empty()) << "no platform call at all, not even the probe";

    NetListen("ZEBSTRESSSENDER", "ZEBSTRESSRECVER", &SessionNcb);
    Calls.clear();
    NetCancel(&SessionNcb);
    auto r = Requests();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].ncb.ncb_command, NCBCANCEL);
    EXPECT_EQ(r[0].ncb.ncb_buffer, reinterpret_cast<unsigned char*>(&SessionNcb));
    EXPECT_NE(r[0].address, &SessionNcb); // a fresh NCB of its own
    SessionNcb.ncb_cmd_cplt = 0;
}

TEST_F(NetRequests, HangupCarriesTheSessionNumber) {
    NetHangup(&SessionNcb, 42);
    auto r = Requests();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].ncb.ncb_command, NCBHANGUP);
    EXPECT_EQ(r[0].ncb.ncb_lsn, 42);
    EXPECT_EQ(r[0].ncb.ncb_buffer, nullptr);
    EXPECT_EQ(r[0].ncb.ncb_length, 0);
}

} // namespace
