// The whole session stress between two hosts: two network namespaces joined by a veth pair,
// the receiver in one and the sender in the other, the receiver's name found by broadcast on
// their link. The namespaces use the documentation range 192.0.2.0/24 and have no route
// beyond their own link. Skipped where namespaces cannot be made.
#include "engine_test_util.h"
#include "netns.h"
#include "stations.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>

using zebtest::ReadLines;
using zebtest::ZebStation;

namespace {

using TwoHosts = zebtest::VethHostsTest;

TEST_F(TwoHosts, SessionStressAcrossAVethLink) {
    ZebStation receiver(zebtest::InNamespace(a_, "192.0.2.1"), {"recv"});
    ASSERT_TRUE(receiver.WaitFor("post Listening for Sender..")) << "receiver not listening";
    ZebStation sender(zebtest::InNamespace(b_, "192.0.2.2"), {"send", "50", "64000"});
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
