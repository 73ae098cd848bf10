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
using zebtest::Shell;
using zebtest::StationPlace;
using zebtest::StationProcess;
using zebtest::VethHosts;

namespace {

class TwoHosts : public ::testing::Test {
  protected:
    void SetUp() override {
        if (geteuid() != 0 || Shell("command -v ip") != 0) {
            GTEST_SKIP() << "network namespaces need root and iproute2; two-host session skipped";
        }
        std::string out;
        if (!hosts_.Create("b", &out)) {
            GTEST_SKIP() << "cannot create network namespaces here (" << out
                         << "); two-host session skipped";
        }
        a_ = hosts_.a;
        b_ = hosts_.b;
    }
    void TearDown() override { hosts_.Remove(); }
    static StationPlace Host(const std::string& ns, const std::string& address) {
        return VethHosts::Host(ns, address);
    }

    VethHosts hosts_;
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
