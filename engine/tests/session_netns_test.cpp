// The whole session stress between hosts in network namespaces: two joined by a veth pair,
// the receiver's name found by broadcast on their link; and with names found through Samba's
// nmbd as the NetBIOS name server (see testsupport/nmbdserver.h), on loopback addresses inside
// a namespace of the test's own with the receiver known only to the server, and between two
// subnets that a third namespace routes, where broadcasts cannot reach across. The namespaces
// use documentation ranges and no namespace has a default route. Skipped without nmbd (for
// the name server) or where namespaces cannot be made and entered.
#include "engine_test_util.h"
#include "nmbdserver.h"

using namespace zebtest;

namespace {

// 50 blocks of 64000 bytes from the sender to the receiver, both reports checked; with a name
// server, the receiver's name registered there while it listens and released at the end.
void RunStress(const StationPlace& receiver_place, const StationPlace& sender_place,
               const NmbdServer* nmbd = nullptr, const std::string& receiver_address = "") {
    ZebStation receiver(receiver_place, {"recv"});
    ASSERT_TRUE(receiver.WaitFor("post Listening for Sender..")) << "receiver not listening";
    if (nmbd != nullptr) {
        std::string found = nmbd->Lookup("ZEBSTRESSRECVER");
        EXPECT_TRUE(LookupFinds(found, receiver_address, "ZEBSTRESSRECVER")) << found;
    }
    ZebStation sender(sender_place, {"send", "50", "64000"});
    EXPECT_EQ(sender.Finish(), 3);
    EXPECT_EQ(receiver.Finish(), 3);
    EXPECT_EQ(sender.Value("result"), "1") << (nmbd != nullptr ? nmbd->Log() : "");
    auto sent = ReadLines(sender.Report());
    ASSERT_FALSE(sent.empty());
    EXPECT_NE(sent.back().find(" KB/s 3200000 bytes transfered"), std::string::npos) << sent.back();
    auto received = ReadLines(receiver.Report());
    ASSERT_EQ(received.size(), 58u);
    EXPECT_EQ(received[4], "Received block   1 Size = 64K Bytes");
    EXPECT_EQ(received[53], "Received block  50 Size = 64K Bytes");
    EXPECT_EQ(received[54], "Session closed by Sender");
    EXPECT_EQ(received[56], "3200000 Bytes received.");
    if (nmbd != nullptr) {
        // Both ended and deleted their names: released at the server.
        std::string found = nmbd->Lookup("ZEBSTRESSRECVER");
        EXPECT_FALSE(LookupFinds(found, receiver_address, "ZEBSTRESSRECVER")) << found;
    }
}

using TwoHosts = VethHostsTest;

TEST_F(TwoHosts, SessionStressAcrossAVethLink) {
    RunStress(InNamespace(a_, "192.0.2.1"), InNamespace(b_, "192.0.2.2"));
}

class NameServer : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::string why = NmbdUnavailable(); !why.empty()) {
            GTEST_SKIP() << why;
        }
        id_ = std::to_string(getpid() % 100000);
    }
    void TearDown() override {
        nmbd_.Stop();
        namespaces_.Remove();
    }
    NmbdServer nmbd_;
    std::string id_;
    Namespaces namespaces_;
};

TEST_F(NameServer, SessionStressWithTheReceiverKnownOnlyToTheServer) {
    std::string ns = "zbw_" + id_;
    ASSERT_EQ(namespaces_.Create({ns}, "ip -n " + ns + " addr add 127.0.0.9/8 dev lo"), "");
    ASSERT_EQ(nmbd_.Start(ns, {"127.0.0.9/8"}), "");
    // P-nodes: the receiver registers only with the server and the sender asks only the
    // server; neither broadcasts.
    auto place = [&](const std::string& address) {
        return StationPlace{address,
                            "127.255.255.255",
                            0,
                            InNamespace(ns),
                            {"NETBIOS_WINS=127.0.0.9", "NETBIOS_NODE_TYPE=P"}};
    };
    RunStress(place("127.0.0.2"), place("127.0.0.3"), &nmbd_, "127.0.0.2");
}

TEST_F(NameServer, SessionStressBetweenTwoSubnetsRoutedThroughAThird) {
    // a: 192.0.2.2/24 -- r: 192.0.2.1/24 + 198.51.100.1/24, nmbd, forwarding -- b:
    // 198.51.100.2/24. Each end has a route to the other subnet only.
    std::string a = "zbwa_" + id_;
    std::string r = "zbwr_" + id_;
    std::string b = "zbwb_" + id_;
    // The two links, then each end's address, brought up.
    std::string setup = "ip link add vzwa" + id_ + " netns " + a + " type veth peer name vzwra" +
                        id_ + " netns " + r + " && ip link add vzwb" + id_ + " netns " + b +
                        " type veth peer name vzwrb" + id_ + " netns " + r;
    for (const auto& [ns, dev, address] : {std::tuple{a, "vzwa", "192.0.2.2/24"},
                                           {r, "vzwra", "192.0.2.1/24"},
                                           {r, "vzwrb", "198.51.100.1/24"},
                                           {b, "vzwb", "198.51.100.2/24"}}) {
        setup.append(" && ip -n ").append(ns).append(" addr add ").append(address);
        setup.append(" dev ").append(dev).append(id_);
        setup.append(" && ip -n ").append(ns).append(" link set ").append(dev).append(id_);
        setup.append(" up");
    }
    setup += " && ip netns exec " + r + " sysctl -qw net.ipv4.ip_forward=1 && ip -n " + a +
             " route add 198.51.100.0/24 via 192.0.2.1 && ip -n " + b +
             " route add 192.0.2.0/24 via 198.51.100.1";
    ASSERT_EQ(namespaces_.Create({a, r, b}, setup), "");
    ShellOutput routes = Shell("ip -n " + a + " route; ip -n " + b + " route");
    ASSERT_EQ(routes.text.find("default"), std::string::npos) << routes.text;
    ASSERT_EQ(nmbd_.Start(r, {"192.0.2.1/24", "198.51.100.1/24"}), "");
    // H-nodes (server first, then broadcast): a broadcast would stay on its own subnet, so
    // only the server can bring the two together.
    StationPlace receiver = InNamespace(a, "192.0.2.2");
    StationPlace sender = InNamespace(b, "198.51.100.2");
    receiver.env = sender.env = {"NETBIOS_WINS=192.0.2.1"};
    RunStress(receiver, sender, &nmbd_, "192.0.2.2");
}

} // namespace
