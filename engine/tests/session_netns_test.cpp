// The whole session stress between two hosts: two network namespaces joined by a veth pair,
// the receiver in one and the sender in the other, the receiver's name found by broadcast on
// their link. The namespaces use the documentation range 192.0.2.0/24 and have no route
// beyond their own link. Skipped where namespaces cannot be made.
#include "engine_test_util.h"
#include "station_runner.h"

#include <array>
#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <string>

using zebtest::ReadLines;
using zebtest::StationPlace;
using zebtest::StationProcess;

namespace {

int Shell(const std::string& command, std::string* output = nullptr) {
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (p == nullptr) {
        return -1;
    }
    std::array<char, 1024> buf;
    std::size_t n = 0;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) {
        if (output != nullptr) {
            output->append(buf.data(), n);
        }
    }
    return pclose(p);
}

class TwoHosts : public ::testing::Test {
  protected:
    void SetUp() override {
        if (geteuid() != 0 || Shell("command -v ip") != 0) {
            GTEST_SKIP() << "network namespaces need root and iproute2; two-host session skipped";
        }
        const std::string id = std::to_string(getpid() % 100000);
        a_ = "zeb_a_" + id;
        b_ = "zeb_b_" + id;
        const std::string va = "vzba" + id;
        const std::string vb = "vzbb" + id;
        std::string out;
        int status =
            Shell("ip netns add " + a_ + " && ip netns add " + b_ + " && ip link add " + va +
                      " type veth peer name " + vb + " && ip link set " + va + " netns " + a_ +
                      " && ip link set " + vb + " netns " + b_ + " && ip -n " + a_ +
                      " addr add 192.0.2.1/24 dev " + va + " && ip -n " + b_ +
                      " addr add 192.0.2.2/24 dev " + vb + " && ip -n " + a_ +
                      " link set lo up && ip -n " + b_ + " link set lo up && ip -n " + a_ +
                      " link set " + va + " up && ip -n " + b_ + " link set " + vb + " up",
                  &out);
        if (status != 0) {
            TearDown();
            GTEST_SKIP() << "cannot create network namespaces here (" << out
                         << "); two-host session skipped";
        }
    }
    void TearDown() override {
        if (!a_.empty()) {
            Shell("ip netns del " + a_ + "; ip netns del " + b_);
            a_.clear();
        }
    }
    // The protocol's own ports inside the namespace; the broadcast of the /24 link.
    static StationPlace Host(const std::string& ns, const std::string& address) {
        return StationPlace{address + "/24", "", 0, {"ip", "netns", "exec", ns}, {}};
    }

    std::string a_;
    std::string b_;
};

TEST_F(TwoHosts, SessionStressAcrossAVethLink) {
    StationProcess receiver(Host(a_, "192.0.2.1"), {"recv"});
    ASSERT_TRUE(receiver.WaitFor("post Listening for Sender..")) << "receiver not listening";
    StationProcess sender(Host(b_, "192.0.2.2"), {"send", "50", "64000"});
    EXPECT_EQ(sender.Finish(), 3);
    EXPECT_EQ(receiver.Finish(), 3);
    EXPECT_EQ(sender.Value("result"), "1");
    auto sent = ReadLines(sender.Report());
    ASSERT_FALSE(sent.empty());
    EXPECT_NE(sent.back().find(" KB/s 3200000 bytes transfered"), std::string::npos) << sent.back();
    auto received = ReadLines(receiver.Report());
    ASSERT_EQ(received.size(), 58u);
    EXPECT_EQ(received[4], "Received block   1 Size = 64K Bytes");
    EXPECT_EQ(received[53], "Received block  50 Size = 64K Bytes");
    EXPECT_EQ(received[54], "Session closed by Sender");
    EXPECT_EQ(received[56], "3200000 Bytes received.");
}

} // namespace
