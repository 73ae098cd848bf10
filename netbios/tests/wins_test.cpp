// Stations with a NetBIOS name server: Samba's nmbd, and a server played by the test that
// shows exactly what a station asks and when.
//
// Each nmbd test makes a network namespace with only a loopback interface, runs nmbd in it as
// a WINS server on 127.0.0.9 (see testsupport/nmbdserver.h) and its stations there on the
// protocol's ports: nmbd checks a contested name by asking the owner on port 137, so the stations
// must be there, and a namespace of the test's own is where that port is free and nmbd sees nothing
// but the test's traffic. The played server listens on 127.0.0.9 of the host, with stations
// on unprivileged ports and the loopback broadcast.
#include "nbpeer.h"
#include "netns.h"
#include "nmbdserver.h"
#include "stations.h"

#include <gtest/gtest.h>

using namespace zebtest;

namespace {

constexpr const char* SERVER = "127.0.0.9";

class Nmbd : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::string why = NmbdUnavailable(); !why.empty()) {
            GTEST_SKIP() << why;
        }
        ns_ = Unique("nbw_");
        if (std::string why =
                namespaces_.Create({ns_}, "ip -n " + ns_ + " addr add " + SERVER + "/8 dev lo");
            !why.empty()) {
            GTEST_SKIP() << why;
        }
        ASSERT_EQ(nmbd_.Start(ns_, {std::string(SERVER) + "/8"}), "");
    }

    void TearDown() override { nmbd_.Stop(); }

    std::string Lookup(const std::string& name) { return nmbd_.Lookup(name); }
    std::string Log() { return nmbd_.Log(); }

    // A station in the namespace on the protocol's ports, with the server as its name server.
    std::unique_ptr<NbStation> MakeStation(const std::string& address,
                                           const std::string& node_type) {
        StationPlace s = Loopback(address, 0);
        s.prefix = InNamespace(ns_);
        s.env = {std::string("NETBIOS_WINS=") + SERVER};
        if (!node_type.empty()) {
            s.env.push_back("NETBIOS_NODE_TYPE=" + node_type);
        }
        return std::make_unique<NbStation>(s);
    }

    Namespaces namespaces_;
    NmbdServer nmbd_;
    std::string ns_;
};

TEST_F(Nmbd, RegistersRefusesAndReleasesNamesThroughTheServer) {
    auto a = MakeStation("127.0.0.2", "");  // H-node: server first
    auto b = MakeStation("127.0.0.3", "P"); // P-node: server only, no broadcasts
    ASSERT_EQ(a->Cmd("add ZEBSTRESSRECVER"), "0x00 1") << a->Errors() << Log();
    ASSERT_EQ(b->Cmd("add ZEBSTRESSSENDER"), "0x00 1") << b->Errors() << Log();
    std::string recver = Lookup("ZEBSTRESSRECVER");
    EXPECT_TRUE(LookupFinds(recver, "127.0.0.2", "ZEBSTRESSRECVER")) << recver << Log();
    std::string sender = Lookup("ZEBSTRESSSENDER");
    EXPECT_TRUE(LookupFinds(sender, "127.0.0.3", "ZEBSTRESSSENDER")) << sender;
    // Each station tells its node type when asked directly.
    std::string status = nmbd_.Nmblookup("-A 127.0.0.2");
    EXPECT_NE(status.find("ZEBSTRESSRECVER <00> -         H <ACTIVE>"), std::string::npos)
        << status;
    status = nmbd_.Nmblookup("-A 127.0.0.3");
    EXPECT_NE(status.find("ZEBSTRESSSENDER <00> -         P <ACTIVE>"), std::string::npos)
        << status;

    // The server asks the owner, which still holds the name: the P-node's add is refused.
    EXPECT_EQ(b->Cmd("add ZEBSTRESSRECVER", 90000), "0x16 0") << Log();
    recver = Lookup("ZEBSTRESSRECVER");
    EXPECT_TRUE(LookupFinds(recver, "127.0.0.2", "ZEBSTRESSRECVER")) << recver;

    // Deleted at the owner: released at the server, so the name is free for the other one.
    ASSERT_EQ(a->Cmd("del ZEBSTRESSRECVER"), "0x00 0");
    recver = Lookup("ZEBSTRESSRECVER");
    EXPECT_FALSE(LookupFinds(recver, "127.0.0.2", "ZEBSTRESSRECVER")) << recver << Log();
    EXPECT_NE(recver.find("failed to find name"), std::string::npos) << recver;
    EXPECT_EQ(b->Cmd("add ZEBSTRESSRECVER", 90000), "0x00 2") << Log();
    recver = Lookup("ZEBSTRESSRECVER");
    EXPECT_TRUE(LookupFinds(recver, "127.0.0.3", "ZEBSTRESSRECVER")) << recver;

    // A station that ends releases what it still holds.
    b.reset();
    recver = Lookup("ZEBSTRESSRECVER");
    EXPECT_FALSE(LookupFinds(recver, "127.0.0.3", "ZEBSTRESSRECVER")) << recver;
    EXPECT_NE(recver.find("failed to find name"), std::string::npos) << recver;
}

TEST_F(Nmbd, PNodeCallsANameKnownOnlyToTheServer) {
    auto receiver = MakeStation("127.0.0.2", "P");
    auto sender = MakeStation("127.0.0.3", "P");
    ASSERT_EQ(receiver->Cmd("add ZEBSTRESSRECVER"), "0x00 1") << receiver->Errors() << Log();
    ASSERT_EQ(sender->Cmd("add ZEBSTRESSSENDER"), "0x00 1") << sender->Errors();

    // Broadcast cannot find it: the receiver never broadcast and does not answer broadcasts.
    StationPlace s = Loopback("127.0.0.4", 0);
    s.prefix = InNamespace(ns_);
    NbStation bnode(s);
    ASSERT_EQ(bnode.Cmd("add ZEBBNODE"), "0x00 1") << bnode.Errors();
    EXPECT_EQ(bnode.Cmd("call ZEBBNODE ZEBSTRESSRECVER"), "0x14 0");

    ASSERT_EQ(receiver->Cmd("listen ZEBSTRESSRECVER ZEBSTRESSSENDER 60 60"), "0x00 0xFF");
    ASSERT_EQ(sender->Cmd("call ZEBSTRESSSENDER ZEBSTRESSRECVER 60 60"), "0x00 1") << Log();
    ASSERT_EQ(receiver->Cmd("wait 5000"), "0x00 1 ZEBSTRESSSENDER");
    receiver->Send("recv 1 500 8000");
    EXPECT_EQ(sender->Cmd("send 1 500 8000", 60000), "0x00 500");
    EXPECT_EQ(receiver->Read(60000), "0x00 500 0");
    EXPECT_EQ(sender->Cmd("hangup 1"), "0x00");
    EXPECT_EQ(receiver->Cmd("recv1 1 8000"), "0x0A 0");
}

// The test as the name server: a UDP socket on 127.0.0.9 that shows every request and answers
// as each test decides.
class FakeServer : public nbtest::UdpPeer {
  public:
    FakeServer() : UdpPeer(SERVER, 0) {}

    // Answers the last request: flags, TTL and the request's own NB entry (or none).
    void Answer(const nb::NamePacket& request, std::uint16_t flags, std::uint32_t ttl,
                bool with_entry = true, std::optional<std::uint32_t> owner = std::nullopt) {
        nb::NamePacket a;
        a.trn_id = request.trn_id;
        a.flags = flags;
        nb::Record rr;
        rr.name = request.questions.at(0).name;
        rr.ttl = ttl;
        if (owner) {
            rr.rdata = nb::EncodeAddrEntry({nb::NB_ONT_B, *owner});
        } else if (with_entry && !request.additional.empty()) {
            rr.rdata = request.additional[0].rdata;
        } else {
            rr.type = nb::RR_TYPE_NULL;
        }
        a.answers.push_back(rr);
        Reply(nb::BuildNamePacket(a, false));
    }
};

class NameServerClient : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(server_.Port(), 0);
        port_ = FreePortPair();
        ASSERT_NE(port_, 0);
    }

    std::unique_ptr<NbStation> MakeStation(const std::string& address, const std::string& node_type,
                                           bool with_server = true) {
        StationPlace s = Loopback(address, port_);
        if (with_server) {
            s.env = {std::string("NETBIOS_WINS=") + SERVER + ":" + std::to_string(server_.Port())};
        }
        if (!node_type.empty()) {
            s.env.push_back("NETBIOS_NODE_TYPE=" + node_type);
        }
        return std::make_unique<NbStation>(s);
    }

    // The next request, checked to be a unicast one of this opcode for that name.
    nb::NamePacket Expect(std::uint8_t opcode, int timeout_ms,
                          const std::string& name = "ZEBSTRESSRECVER") {
        std::optional<nb::NamePacket> request = server_.Receive(timeout_ms);
        EXPECT_TRUE(request) << "no request with opcode " << int(opcode);
        nb::NamePacket p = request.value_or(nb::NamePacket{});
        EXPECT_EQ(p.GetOpcode(), opcode);
        EXPECT_EQ(p.flags & nb::FLAG_BROADCAST, 0);
        EXPECT_FALSE(p.IsResponse());
        EXPECT_EQ(server_.FromPort(), port_); // from the station's name socket
        if (p.questions.size() == 1) {
            const auto& raw = p.questions[0].name.name;
            const char* text = reinterpret_cast<const char*>(raw.data());
            EXPECT_EQ(std::string(text, strnlen(text, raw.size())), name);
        } else {
            ADD_FAILURE() << "no question";
        }
        return p;
    }

    FakeServer server_;
    std::uint16_t port_ = 0;
};

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

TEST_F(NameServerClient, RegistersRefreshesAtHalfTheGrantAndReleasesOnDelete) {
    auto a = MakeStation("127.0.0.2", "");
    a->Send("add ZEBSTRESSRECVER");
    nb::NamePacket reg = Expect(nb::OPCODE_REGISTRATION, 5000);
    EXPECT_NE(reg.flags & nb::FLAG_RD, 0);
    std::vector<nb::AddrEntry> entries;
    ASSERT_EQ(reg.additional.size(), 1u);
    ASSERT_TRUE(nb::ParseAddrEntries(reg.additional[0].rdata, entries));
    EXPECT_EQ(entries[0].flags, 0x6000);        // unique, H-node
    EXPECT_EQ(entries[0].address, 0x7F000002u); // 127.0.0.2
    EXPECT_EQ(server_.FromAddress(), "127.0.0.2");
    server_.Answer(reg, 0xAD80, 2); // granted for 2 s: refreshed after 1 s
    auto granted = Clock::now();
    ASSERT_EQ(a->Read(5000), "0x00 1") << a->Errors();

    for (int i = 0; i < 2; ++i) {
        nb::NamePacket refresh = Expect(nb::OPCODE_REFRESH, 3000);
        long long ms = MsSince(granted);
        EXPECT_GE(ms, 800) << "refresh " << i;
        EXPECT_LE(ms, 2500) << "refresh " << i;
        EXPECT_NE(refresh.trn_id, reg.trn_id);
        server_.Answer(refresh, 0xAD80, 2);
        granted = Clock::now();
    }
    a->Send("del ZEBSTRESSRECVER");
    nb::NamePacket release = Expect(nb::OPCODE_RELEASE, 3000);
    ASSERT_TRUE(nb::ParseAddrEntries(release.additional.at(0).rdata, entries));
    EXPECT_EQ(entries[0].address, 0x7F000002u);
    server_.Answer(release, 0xB400, 0);
    EXPECT_EQ(a->Read(5000), "0x00 0");
    EXPECT_FALSE(server_.Receive(1500)) << "a deleted name is not refreshed";
}

TEST_F(NameServerClient, WaitsOutAWackThenTakesTheRefusal) {
    auto a = MakeStation("127.0.0.2", "P");
    auto started = Clock::now();
    a->Send("add ZEBSTRESSRECVER");
    nb::NamePacket reg = Expect(nb::OPCODE_REGISTRATION, 5000);
    server_.Answer(reg, 0xBC00, 10, false);
    // Without the WACK the request would come again after 1.5 s.
    EXPECT_FALSE(server_.Receive(2500)) << "retransmitted after a WACK";
    server_.Answer(reg, 0xAD86, 0);
    EXPECT_EQ(a->Read(5000), "0x16 0");
    EXPECT_GE(MsSince(started), 2500);
}

TEST_F(NameServerClient, SilentServerHNodeFallsBackToBroadcastPNodeFails) {
    auto h = MakeStation("127.0.0.2", "");
    auto p = MakeStation("127.0.0.3", "P");
    auto started = Clock::now();
    h->Send("add ZEBSTRESSRECVER");
    p->Send("add ZEBSTRESSSENDER");
    // Three sends each, 1.5 s apart, never answered.
    int requests = 0;
    while (server_.Receive(2500)) {
        ++requests;
    }
    EXPECT_EQ(requests, 6);
    EXPECT_EQ(h->Read(5000), "0x00 1") << h->Errors(); // registered by broadcast
    EXPECT_EQ(p->Read(5000), "0x05 0");                // a P-node has no other way
    EXPECT_GE(MsSince(started), 4500);

    // The fallback registration is real: a B-node on the same LAN is refused the name.
    auto b = MakeStation("127.0.0.4", "", false);
    EXPECT_EQ(b->Cmd("add ZEBSTRESSRECVER"), "0x16 0");
}

TEST_F(NameServerClient, UnknownAtTheServerEndsAPNodeSearchAndSendsAnHNodeToBroadcast) {
    auto b = MakeStation("127.0.0.4", "", false); // known by broadcast only
    ASSERT_EQ(b->Cmd("add ZEBSTRESSRECVER"), "0x00 1");
    auto p = MakeStation("127.0.0.2", "P");
    auto h = MakeStation("127.0.0.3", "H");
    for (NbStation* s : {p.get(), h.get()}) {
        s->Send("add ZEBSTRESSSENDER");
        nb::NamePacket reg = Expect(nb::OPCODE_REGISTRATION, 5000, "ZEBSTRESSSENDER");
        server_.Answer(reg, 0xAD80, 0); // for good: no refresh
        ASSERT_EQ(s->Read(5000), "0x00 1");
    }
    for (NbStation* s : {p.get(), h.get()}) {
        auto started = Clock::now();
        if (s == h.get()) {
            ASSERT_EQ(b->Cmd("listen ZEBSTRESSRECVER *"), "0x00 0xFF");
        }
        s->Send("call ZEBSTRESSSENDER ZEBSTRESSRECVER");
        nb::NamePacket query = Expect(nb::OPCODE_QUERY, 5000);
        EXPECT_NE(query.flags & nb::FLAG_RD, 0);
        server_.Answer(query, 0x8583, 0, false);
        if (s == p.get()) {
            EXPECT_EQ(s->Read(5000), "0x14 0"); // nowhere else to look
            EXPECT_LT(MsSince(started), 1400) << "waited for retransmissions after the answer";
        } else {
            EXPECT_EQ(s->Read(5000), "0x00 1"); // found by broadcast
            EXPECT_EQ(b->Cmd("wait 5000"), "0x00 1 ZEBSTRESSSENDER");
        }
    }
}

TEST_F(NameServerClient, EndNodeChallengeAsksTheOwnerBeforeOverwriting) {
    // The server names an owner that still holds the name: the add fails, nothing is
    // overwritten.
    auto owner = MakeStation("127.0.0.4", "", false);
    ASSERT_EQ(owner->Cmd("add ZEBSTRESSRECVER"), "0x00 1");
    auto a = MakeStation("127.0.0.2", "P");
    a->Send("add ZEBSTRESSRECVER");
    nb::NamePacket reg = Expect(nb::OPCODE_REGISTRATION, 5000);
    server_.Answer(reg, 0xAD00, 0, true, 0x7F000004); // challenge: ask 127.0.0.4
    EXPECT_EQ(a->Read(8000), "0x16 0");
    EXPECT_FALSE(server_.Receive(500)) << "overwrote a name its owner still holds";

    // An owner that no longer answers (three queries) loses the name to an overwrite.
    a->Send("add ZEBSTRESSRECVER");
    reg = Expect(nb::OPCODE_REGISTRATION, 5000);
    server_.Answer(reg, 0xAD00, 0, true, 0x7F000005); // nobody at 127.0.0.5
    nb::NamePacket overwrite = Expect(nb::OPCODE_REGISTRATION, 8000);
    EXPECT_EQ(overwrite.flags & nb::FLAG_RD, 0); // an overwrite, not a new request
    EXPECT_NE(overwrite.trn_id, reg.trn_id);
    server_.Answer(overwrite, 0xAD80, 0);
    EXPECT_EQ(a->Read(5000), "0x00 1");
}

} // namespace
