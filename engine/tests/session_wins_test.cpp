// The whole session stress with names found through Samba's nmbd as the NetBIOS name server
// (see netbios/tests/nmbdserver.h): on loopback addresses inside a namespace of the test's own
// with the receiver known only to the server, and between two subnets that a third namespace
// routes, where broadcasts cannot reach across. No namespace has a default route. Skipped
// without root, iproute2 or nmbd.
#include "engine_test_util.h"
#include "nmbdserver.h"
#include "station_runner.h"

#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

using zebtest::ReadLines;
using zebtest::StationPlace;
using zebtest::StationProcess;

namespace {

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
        for (const std::string& ns : namespaces_) {
            std::string command = "ip netns pids ";
            command += ns;
            command += " | xargs -r kill -KILL; ip netns del ";
            command += ns;
            RunShell(command);
        }
    }
    // Makes the namespaces, then runs the commands that set them up; skips when that fails.
    bool Make(const std::vector<std::string>& names, const std::string& setup) {
        std::string command;
        for (const std::string& ns : names) {
            command += (command.empty() ? "" : " && ") + ("ip netns add " + ns);
        }
        ShellOutput r = RunShell(command);
        namespaces_ = names;
        if (r.status == 0) {
            r = RunShell(setup);
        }
        if (r.status != 0) {
            ADD_FAILURE() << "cannot set up the namespaces: " << r.text;
            return false;
        }
        return true;
    }

    // 50 blocks of 64000 bytes from the sender to the receiver, both reports checked.
    void RunStress(const StationPlace& receiver_place, const StationPlace& sender_place,
                   const std::string& receiver_address) {
        StationProcess receiver(receiver_place, {"recv"});
        ASSERT_TRUE(receiver.WaitFor("post Listening for Sender..")) << "receiver not listening";
        std::string found = nmbd_.Lookup("ZEBSTRESSRECVER");
        EXPECT_TRUE(LookupFinds(found, receiver_address, "ZEBSTRESSRECVER")) << found;
        StationProcess sender(sender_place, {"send", "50", "64000"});
        EXPECT_EQ(sender.Finish(), 3);
        EXPECT_EQ(receiver.Finish(), 3);
        EXPECT_EQ(sender.Value("result"), "1") << nmbd_.Log();
        auto sent = ReadLines(sender.Report());
        ASSERT_FALSE(sent.empty());
        EXPECT_NE(sent.back().find(" KB/s 3200000 bytes transfered"), std::string::npos)
            << sent.back();
        auto received = ReadLines(receiver.Report());
        ASSERT_EQ(received.size(), 58u);
        EXPECT_EQ(received[4], "Received block   1 Size = 64K Bytes");
        EXPECT_EQ(received[53], "Received block  50 Size = 64K Bytes");
        EXPECT_EQ(received[54], "Session closed by Sender");
        EXPECT_EQ(received[56], "3200000 Bytes received.");
        // Both ended and deleted their names: released at the server.
        found = nmbd_.Lookup("ZEBSTRESSRECVER");
        EXPECT_FALSE(LookupFinds(found, receiver_address, "ZEBSTRESSRECVER")) << found;
    }

    NmbdServer nmbd_;
    std::string id_;
    std::vector<std::string> namespaces_;
};

TEST_F(NameServer, SessionStressWithTheReceiverKnownOnlyToTheServer) {
    std::string ns = "zbw_" + id_;
    if (!Make({ns},
              "ip -n " + ns + " link set lo up && ip -n " + ns + " addr add 127.0.0.9/8 dev lo")) {
        return;
    }
    ASSERT_EQ(nmbd_.Start(ns, {"127.0.0.9/8"}), "");
    // P-nodes: the receiver registers only with the server and the sender asks only the
    // server; neither broadcasts.
    auto place = [&](const std::string& address) {
        return StationPlace{address,
                            "127.255.255.255",
                            0,
                            {"ip", "netns", "exec", ns},
                            {"NETBIOS_WINS=127.0.0.9", "NETBIOS_NODE_TYPE=P"}};
    };
    RunStress(place("127.0.0.2"), place("127.0.0.3"), "127.0.0.2");
}

TEST_F(NameServer, SessionStressBetweenTwoSubnetsRoutedThroughAThird) {
    // a: 192.0.2.2/24 -- r: 192.0.2.1/24 + 198.51.100.1/24, nmbd, forwarding -- b:
    // 198.51.100.2/24. Each end has a route to the other subnet only.
    std::string a = "zbwa_" + id_;
    std::string r = "zbwr_" + id_;
    std::string b = "zbwb_" + id_;
    std::string va = "vzwa" + id_;
    std::string vra = "vzwra" + id_;
    std::string vb = "vzwb" + id_;
    std::string vrb = "vzwrb" + id_;
    std::string setup =
        "ip link add " + va + " netns " + a + " type veth peer name " + vra + " netns " + r +
        " && ip link add " + vb + " netns " + b + " type veth peer name " + vrb + " netns " + r +
        " && ip -n " + a + " addr add 192.0.2.2/24 dev " + va + " && ip -n " + r +
        " addr add 192.0.2.1/24 dev " + vra + " && ip -n " + r + " addr add 198.51.100.1/24 dev " +
        vrb + " && ip -n " + b + " addr add 198.51.100.2/24 dev " + vb;
    for (const std::string& ns : {a, r, b}) {
        setup += " && ip -n " + ns + " link set lo up";
    }
    for (const auto& [ns, dev] : {std::pair{a, va}, {r, vra}, {r, vrb}, {b, vb}}) {
        setup += " && ip -n ";
        setup += ns;
        setup += " link set ";
        setup += dev;
        setup += " up";
    }
    setup += " && ip netns exec " + r + " sysctl -qw net.ipv4.ip_forward=1 && ip -n " + a +
             " route add 198.51.100.0/24 via 192.0.2.1 && ip -n " + b +
             " route add 192.0.2.0/24 via 198.51.100.1";
    if (!Make({a, r, b}, setup)) {
        return;
    }
    ShellOutput routes = RunShell("ip -n " + a + " route; ip -n " + b + " route");
    ASSERT_EQ(routes.text.find("default"), std::string::npos) << routes.text;
    ASSERT_EQ(nmbd_.Start(r, {"192.0.2.1/24", "198.51.100.1/24"}), "");
    // H-nodes (server first, then broadcast): a broadcast would stay on its own subnet, so
    // only the server can bring the two together.
    StationPlace receiver{
        "192.0.2.2/24", "", 0, {"ip", "netns", "exec", a}, {"NETBIOS_WINS=192.0.2.1"}};
    StationPlace sender{
        "198.51.100.2/24", "", 0, {"ip", "netns", "exec", b}, {"NETBIOS_WINS=192.0.2.1"}};
    RunStress(receiver, sender, "192.0.2.2");
}

} // namespace
