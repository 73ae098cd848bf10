// The provider as one station among others on a LAN: what it tells other nodes and how often
// it broadcasts. Stations on 127.0.0.2 and 127.0.0.3 (ports of their own, the loopback
// broadcast address) face a peer played by the test, which hears the broadcasts on the same
// port and sends its own requests; the same-host peers (nmblookup, nmbd) run in a network
// namespace of the test's own on the protocol's ports.
#include "nbpeer.h"
#include "netns.h"
#include "nmbdserver.h"
#include "stations.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace zebtest;
using namespace nbtest;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

bool IsAbout(const nb::NamePacket& p, std::uint8_t opcode, const std::string& name) {
    return !p.IsResponse() && p.GetOpcode() == opcode && p.questions.size() == 1 &&
           p.questions[0].name == NameOf(name);
}

class OnLoopback : public ::testing::Test {
  protected:
    void SetUp() override {
        port_ = FreePortPair();
        ASSERT_NE(port_, 0);
    }

    std::unique_ptr<NbStation> At(const std::string& address) {
        return std::make_unique<NbStation>(Loopback(address, port_));
    }

    std::uint16_t port_ = 0;
};

// After a name conflict demand the name is neither answered nor defended; node status still
// lists it, with its conflict flag.
TEST_F(OnLoopback, ANameInConflictIsNeitherAnsweredNorDefended) {
    auto a = At("127.0.0.2");
    UdpPeer peer("127.0.0.5", 0);
    ASSERT_TRUE(peer.Bound());
    ASSERT_EQ(a->Cmd("add ZEBSTRESSRECVER"), "0x00 1") << a->Errors();
    const nb::AddrEntry newcomer{0, Ipv4("127.0.0.5")};
    auto registration =
        nb::MakeRegistrationRequest(0x4242, NameOf("ZEBSTRESSRECVER"), false, newcomer.address);
    peer.SendTo(registration, "127.0.0.2", port_);
    auto defended = peer.Receive(2000);
    ASSERT_TRUE(defended.has_value());
    EXPECT_EQ(defended->flags & 0x780f, (nb::OPCODE_REGISTRATION << 11) | nb::RCODE_ACT_ERR);

    peer.SendTo(nb::MakeNegativeRegistrationResponse(0x4343, NameOf("ZEBSTRESSRECVER"),
                                                     nb::RCODE_CFT_ERR, nb::AddrEntry{}),
                "127.0.0.2", port_);
    usleep(200000);
    peer.SendTo(nb::MakeQueryRequest(0x4444, NameOf("ZEBSTRESSRECVER"), false), "127.0.0.2", port_);
    peer.SendTo(registration, "127.0.0.2", port_);
    nb::NamePacket status_request;
    status_request.trn_id = 0x4545;
    status_request.questions.push_back({.name = NameOf("*"), .type = nb::RR_TYPE_NBSTAT});
    peer.SendTo(nb::BuildNamePacket(status_request, false), "127.0.0.2", port_);
    // Only the node status comes back.
    std::vector<nb::NamePacket> answers;
    std::string ids;
    while (auto p = peer.Receive(1000)) {
        answers.push_back(*p);
        ids += " " + std::to_string(p->trn_id);
    }
    ASSERT_EQ(answers.size(), 1u) << "answers to" << ids;
    ASSERT_EQ(answers[0].trn_id, 0x4545);
    ASSERT_EQ(answers[0].answers.size(), 1u);
    const nb::Bytes& rdata = answers[0].answers[0].rdata;
    ASSERT_GE(rdata.size(), 1u + 18u);
    ASSERT_EQ(rdata[0], 1);
    EXPECT_EQ(std::memcmp(rdata.data() + 1, NameOf("ZEBSTRESSRECVER").name.data(), 16), 0);
    std::uint16_t flags = static_cast<std::uint16_t>(rdata[17] << 8 | rdata[18]);
    EXPECT_EQ(flags & 0x0c00, 0x0c00) << std::hex << flags; // CNF and ACT
    EXPECT_EQ(a->Cmd("del ZEBSTRESSRECVER"), "0x00 0");
}

// A delete broadcasts the release three times, 250 ms apart; a station that ends right after
// it sends the ones still owed before it is gone, and one that ends holding a name releases
// it too. The end waits for them only a few tens of milliseconds.
TEST_F(OnLoopback, EveryReleaseOwedLeavesTheStationBeforeItEnds) {
    struct Row {
        const char* what;
        bool deletes;
        bool exits;
    };
    for (const Row& row : {Row{"stays after its delete", true, false},
                           Row{"ends right after its delete", true, true},
                           Row{"ends holding the name", false, true}}) {
        SCOPED_TRACE(row.what);
        UdpPeer broadcast("127.255.255.255", port_);
        ASSERT_TRUE(broadcast.Bound());
        auto a = At("127.0.0.2");
        ASSERT_EQ(a->Cmd("add ZEBSTRESSRECVER"), "0x00 1") << a->Errors();
        if (row.deletes) {
            ASSERT_EQ(a->Cmd("del ZEBSTRESSRECVER"), "0x00 0");
        }
        if (row.exits) {
            a->Send("quit");
            auto quit = Clock::now();
            EXPECT_EQ(a->Read(5000), "") << "no answer, the end of its output";
            EXPECT_LT(Clock::now() - quit, milliseconds(500)) << "the end waits briefly";
        }
        std::vector<Clock::time_point> releases;
        auto until = Clock::now() + milliseconds(1500);
        while (Clock::now() < until) {
            auto p = broadcast.Receive(100);
            if (p && IsAbout(*p, nb::OPCODE_RELEASE, "ZEBSTRESSRECVER")) {
                EXPECT_NE(p->flags & nb::FLAG_BROADCAST, 0);
                releases.push_back(Clock::now());
            }
        }
        ASSERT_EQ(releases.size(), 3u);
        for (std::size_t i = 1; i < releases.size() && !row.exits; ++i) {
            auto gap = std::chrono::duration_cast<milliseconds>(releases[i] - releases[i - 1]);
            EXPECT_GE(gap.count(), 200) << i;
            EXPECT_LE(gap.count(), 1000) << i;
        }
    }
}

// A call accepted just before the listening side deletes its name: the delete leaves the name
// with that session. What the caller sends before it hangs up is still delivered, then the
// hang-up; a caller that hangs up with nothing sent frees the name at once, and a receive
// still learns of the hang-up.
TEST_F(OnLoopback, ANameDeletedUnderASessionKeepsItsDataUntilReadThenIsFree) {
    for (bool sends : {true, false}) {
        SCOPED_TRACE(sends ? "three messages, then the hang-up" : "the hang-up alone");
        auto a = At("127.0.0.2");
        auto b = At("127.0.0.3");
        ASSERT_EQ(a->Cmd("add ZEBSTRESSRECVER"), "0x00 1") << a->Errors();
        ASSERT_EQ(b->Cmd("add ZEBSTRESSSENDER"), "0x00 1") << b->Errors();
        ASSERT_EQ(a->Cmd("listen ZEBSTRESSRECVER *"), "0x00 0xFF");
        ASSERT_EQ(b->Cmd("call ZEBSTRESSSENDER ZEBSTRESSRECVER 0 20"), "0x00 1");
        EXPECT_EQ(a->Cmd("del ZEBSTRESSRECVER"), "0x0F 0");
        EXPECT_EQ(a->Cmd("add ZEBSTRESSRECVER"), "0x0D 0"); // still held by the session
        if (sends) {
            ASSERT_EQ(b->Cmd("send 1 3 1000"), "0x00 3");
        }
        ASSERT_EQ(b->Cmd("hangup 1"), "0x00");
        usleep(500000); // the provider thread has seen the hang-up
        if (sends) {
            EXPECT_EQ(a->Cmd("recv 1 3 1000"), "0x00 3 0");
            EXPECT_EQ(a->Cmd("recv1 1 1000"), "0x0A 0");
        }
        std::string added;
        for (int i = 0; i < 40 && added != "0x00 1"; ++i) {
            added = a->Cmd("add ZEBSTRESSRECVER");
            usleep(50000);
        }
        EXPECT_EQ(added, "0x00 1");
        if (!sends) {
            EXPECT_EQ(a->Cmd("recv1 1 1000"), "0x0A 0") << "the hang-up, told";
        }
        ASSERT_EQ(a->Cmd("listen ZEBSTRESSRECVER *"), "0x00 0xFF");
        ASSERT_EQ(b->Cmd("call ZEBSTRESSSENDER ZEBSTRESSRECVER"), "0x00 1");
        EXPECT_EQ(a->Cmd("wait 5000"), "0x00 1 ZEBSTRESSSENDER");
    }
}

// Runs that take their 20 or 30 seconds: labelled slow.
using OnLoopbackSlow = OnLoopback;

// The caller of a registered name whose owner has no listen calls again at once, for 20
// seconds: the owner's address is kept from the first answer, so the calls cost no broadcast,
// and each refused call holds the next one to that address back a little longer (up to a
// second). When the name moves to another station, the call to the old address fails and the
// next search finds the new one.
TEST_F(OnLoopbackSlow, RefusedCallsForTwentySecondsCostFewBroadcastQueries) {
    UdpPeer broadcast("127.255.255.255", port_);
    ASSERT_TRUE(broadcast.Bound());
    std::atomic<int> queries{0};
    std::atomic<bool> counting{true};
    std::thread counter([&] {
        while (counting) {
            auto p = broadcast.Receive(100);
            if (p && IsAbout(*p, nb::OPCODE_QUERY, "ZEBSTRESSRECVER")) {
                ++queries;
            }
        }
    });
    auto a = At("127.0.0.2");
    auto b = At("127.0.0.3");
    ASSERT_EQ(a->Cmd("add ZEBSTRESSRECVER"), "0x00 1") << a->Errors();
    ASSERT_EQ(b->Cmd("add ZEBSTRESSSENDER"), "0x00 1") << b->Errors();
    int calls = 0;
    auto until = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < until) {
        ASSERT_EQ(b->Cmd("call ZEBSTRESSSENDER ZEBSTRESSRECVER"), "0x14 0");
        ++calls;
    }
    int during_run = queries.load();

    // The name moves: its old owner goes, a new one on 127.0.0.4 listens.
    a.reset();
    auto c = At("127.0.0.4");
    ASSERT_EQ(c->Cmd("add ZEBSTRESSRECVER"), "0x00 1") << c->Errors();
    ASSERT_EQ(c->Cmd("listen ZEBSTRESSRECVER *"), "0x00 0xFF");
    std::string call = b->Cmd("call ZEBSTRESSSENDER ZEBSTRESSRECVER");
    if (call != "0x00 1") {
        call = b->Cmd("call ZEBSTRESSSENDER ZEBSTRESSRECVER");
    }
    EXPECT_EQ(call, "0x00 1");
    EXPECT_EQ(c->Cmd("wait 5000"), "0x00 1 ZEBSTRESSSENDER");
    counting = false;
    counter.join();
    std::printf("refused-call run: %d calls, %d broadcast queries in 20 s\n", calls, during_run);
    EXPECT_GE(calls, 10) << "the calls go on through the 20 seconds";
    EXPECT_LE(calls, 200) << "refused calls to one address are paced";
    EXPECT_LE(during_run, 10);
}

// The same with a caller that never hangs up: the session ends after SSN_CLOSE_TIMEOUT (30 s)
// unused, and the name with it. Data that came late in that time is not dropped with such a
// session: it stays until the data has waited 30 seconds unread.
TEST_F(OnLoopbackSlow, ANameDeletedUnderAnUnreadSessionIsFreeOnceTheSessionTimesOut) {
    auto a = At("127.0.0.2");
    auto b = At("127.0.0.3");
    ASSERT_EQ(b->Cmd("add ZEBSTRESSSENDER"), "0x00 1") << b->Errors();
    // Session 1 on ZEBSTRESSRECVER gets its data at once, session 2 on ZEBSTRESSLATE late.
    std::string late;
    for (const std::string name : {"ZEBSTRESSRECVER", "ZEBSTRESSLATE"}) {
        ASSERT_EQ(Words(a->Cmd("add " + name))[0], "0x00") << a->Errors();
        ASSERT_EQ(a->Cmd("listen " + name + " *"), "0x00 0xFF");
        ASSERT_EQ(Words(b->Cmd("call ZEBSTRESSSENDER " + name + " 0 20"))[0], "0x00");
        auto done = Words(a->Cmd("wait 5000"));
        ASSERT_EQ(done.size(), 3u);
        late = done[1];
    }
    auto deleted = Clock::now();
    EXPECT_EQ(a->Cmd("del ZEBSTRESSRECVER"), "0x0F 0");
    EXPECT_EQ(a->Cmd("del ZEBSTRESSLATE"), "0x0F 0");
    ASSERT_EQ(b->Cmd("send 1 3 1000"), "0x00 3");
    bool sent_late = false;
    std::string added;
    while (added != "0x00 1" && Clock::now() < deleted + std::chrono::seconds(40)) {
        if (!sent_late && Clock::now() > deleted + std::chrono::seconds(25)) {
            ASSERT_EQ(b->Cmd("send 2 3 1000"), "0x00 3");
            sent_late = true;
        }
        usleep(250000);
        added = a->Cmd("add ZEBSTRESSRECVER");
    }
    EXPECT_EQ(added, "0x00 1");
    EXPECT_GE(Clock::now() - deleted, std::chrono::seconds(29));
    EXPECT_EQ(b->Cmd("recv1 1 100"), "0x0A 0"); // ended at the other side
    ASSERT_TRUE(sent_late);
    EXPECT_EQ(a->Cmd("recv " + late + " 3 1000"), "0x00 3 0") << "the late data, delivered";
}

// Peers on the station's own host: Samba's nmblookup asking it directly, and nmbd as the name
// server, which must be able to challenge the station's names. One namespace holds the
// server's address, the station's and a second station's on one veth link.
class SameHost : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::string why = NmbdUnavailable(); !why.empty()) {
            GTEST_SKIP() << why;
        }
        ns_ = Unique("nbc_");
        const std::string v = "v" + ns_;
        // The station's address first: the kernel sends from it to any address of the link.
        std::string setup = "ip -n " + ns_ + " link add " + v + " type veth peer name " + v + "p";
        for (const char* address : {"192.0.2.2", "192.0.2.1", "192.0.2.3"}) {
            setup += std::string(" && ip -n ") + ns_ + " addr add " + address +
                     "/24 brd 192.0.2.255 dev " + v;
        }
        setup += " && ip -n " + ns_ + " link set " + v + " up && ip -n " + ns_ + " link set " + v +
                 "p up";
        if (std::string why = namespaces_.Create({ns_}, setup); !why.empty()) {
            GTEST_SKIP() << "cannot create a network namespace here (" << why << "); skipped";
        }
        ASSERT_EQ(nmbd_.Start(ns_, {"192.0.2.1/24"}), "");
        WriteFile(dir_ / "smb.conf", "[global]\n");
        ASSERT_EQ(ReadFile(dir_ / "smb.conf"), "[global]\n");
    }

    std::string FromStationsAddress(const std::string& args) {
        return Shell("ip netns exec " + ns_ + " timeout 10 nmblookup -s " +
                     (dir_ / "smb.conf").string() + " " + args)
            .text;
    }

    void TearDown() override { nmbd_.Stop(); }

    std::unique_ptr<NbStation> At(const std::string& address, const std::string& node_type) {
        StationPlace place = InNamespace(ns_, address);
        place.env = {"NETBIOS_WINS=192.0.2.1", "NETBIOS_NODE_TYPE=" + node_type};
        return std::make_unique<NbStation>(place);
    }

    Namespaces namespaces_;
    NmbdServer nmbd_;
    std::string ns_;
    TempDir dir_{"nbc-smbconf"};
};

TEST_F(SameHost, NmblookupAndTheNameServerReachTheStation) {
    auto a = At("192.0.2.2", "H");
    ASSERT_EQ(a->Cmd("add ZEBSTRESSRECVER"), "0x00 1") << a->Errors() << nmbd_.Log();
    // nmblookup without interfaces of its own asks from the address it asks: the station's.
    std::string unicast = FromStationsAddress("-U 192.0.2.2 ZEBSTRESSRECVER");
    EXPECT_TRUE(LookupFinds(unicast, "192.0.2.2", "ZEBSTRESSRECVER")) << unicast;
    std::string status = FromStationsAddress("-A 192.0.2.2");
    EXPECT_NE(status.find("ZEBSTRESSRECVER <00> -         H <ACTIVE>"), std::string::npos)
        << status;
    // The server asks the owner, which answers: the second station's add is refused.
    auto b = At("192.0.2.3", "P");
    EXPECT_EQ(b->Cmd("add ZEBSTRESSRECVER", 90000), "0x16 0") << nmbd_.Log();
    std::string found = nmbd_.Lookup("ZEBSTRESSRECVER");
    EXPECT_TRUE(LookupFinds(found, "192.0.2.2", "ZEBSTRESSRECVER")) << found;
    // Released at the server on delete: free for the second station.
    ASSERT_EQ(a->Cmd("del ZEBSTRESSRECVER"), "0x00 0");
    EXPECT_EQ(b->Cmd("add ZEBSTRESSRECVER", 90000), "0x00 1") << nmbd_.Log();
}

} // namespace
