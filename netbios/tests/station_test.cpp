// Two provider stations in two processes on 127.0.0.2 and 127.0.0.3, on ports of their own.
#include "nbpeer.h"
#include "netns.h"
#include "stations.h"

#include <gtest/gtest.h>

using namespace zebtest;

namespace {

class TwoStations : public ::testing::Test {
  protected:
    void SetUp() override {
        port_ = FreePortPair();
        ASSERT_NE(port_, 0) << "no free loopback ports";
        a_ = MakeStation("127.0.0.2");
        b_ = MakeStation("127.0.0.3");
    }

    std::unique_ptr<NbStation> MakeStation(const std::string& address,
                                           std::vector<std::string> extra = {}) {
        StationPlace s = Loopback(address, port_);
        s.env = std::move(extra);
        return std::make_unique<NbStation>(s);
    }

    // Receiver on A listening for B, B calling: the two session numbers in la_ and lb_.
    void OpenSession(const std::string& timeouts = "60 60") {
        ASSERT_EQ(a_->Cmd("add ZEBSTRESSRECVER"), "0x00 1");
        ASSERT_EQ(b_->Cmd("add ZEBSTRESSSENDER"), "0x00 1");
        ASSERT_EQ(a_->Cmd("listen ZEBSTRESSRECVER ZEBSTRESSSENDER " + timeouts), "0x00 0xFF");
        auto call = Words(b_->Cmd("call ZEBSTRESSSENDER ZEBSTRESSRECVER " + timeouts));
        ASSERT_EQ(call.size(), 2u);
        ASSERT_EQ(call[0], "0x00");
        auto done = Words(a_->Cmd("wait 5000"));
        ASSERT_EQ(done.size(), 3u);
        ASSERT_EQ(done[0], "0x00");
        EXPECT_EQ(done[2], "ZEBSTRESSSENDER"); // the caller's name copied into the listen
        la_ = done[1];
        lb_ = call[1];
    }

    std::uint16_t port_ = 0;
    std::unique_ptr<NbStation> a_;
    std::unique_ptr<NbStation> b_;
    std::string la_;
    std::string lb_;
};

TEST_F(TwoStations, NamesAreNumberedAndDefendedAcrossStations) {
    EXPECT_EQ(a_->Cmd("add ZEBSTRESSRECVER"), "0x00 1");
    EXPECT_EQ(a_->Cmd("add SECOND"), "0x00 2");
    EXPECT_EQ(a_->Cmd("add ZEBSTRESSRECVER"), "0x0D 0"); // already in this table
    EXPECT_EQ(b_->Cmd("add ZEBSTRESSRECVER"), "0x16 0"); // defended by A: in use remotely
    EXPECT_EQ(b_->Cmd("add ZEBSTRESSSENDER"), "0x00 1");
    EXPECT_EQ(Words(a_->Cmd("del NEVERADDED"))[0], "0x15");
    EXPECT_EQ(a_->Cmd("del ZEBSTRESSRECVER"), "0x00 0");
    EXPECT_EQ(a_->Cmd("add THIRD"), "0x00 1"); // lowest free number again
    EXPECT_EQ(b_->Cmd("add ZEBSTRESSRECVER"), "0x00 2");
    EXPECT_EQ(Words(a_->Cmd("add *WILD"))[0], "0x15");
}

TEST_F(TwoStations, ThousandFullBlocksArriveInOrderUnaltered) {
    OpenSession();
    a_->Send("recv " + la_ + " 1000 64002");
    EXPECT_EQ(b_->Cmd("send " + lb_ + " 1000 64002", 60000), "0x00 1000");
    EXPECT_EQ(a_->Read(60000), "0x00 1000 0");
    // The sender hangs up; the receiver's next receive sees an orderly close.
    EXPECT_EQ(b_->Cmd("hangup " + lb_), "0x00");
    EXPECT_EQ(a_->Cmd("recv1 " + la_ + " 64002"), "0x0A 0");
    EXPECT_EQ(a_->Cmd("hangup " + la_), "0x08"); // already gone
    // A receive on it delivers nothing, and says so.
    EXPECT_EQ(a_->Cmd("recv1 " + la_ + " 1000"), "0x08 0");
    EXPECT_EQ(Words(b_->Cmd("send " + lb_ + " 1 10"))[0], "0x08");
}

TEST_F(TwoStations, CallWithoutMatchingListenIsNoCallInEveryCase) {
    ASSERT_EQ(b_->Cmd("add ZEBSTRESSSENDER"), "0x00 1");
    // Name unknown on the LAN.
    EXPECT_EQ(b_->Cmd("call ZEBSTRESSSENDER ZEBSTRESSRECVER"), "0x14 0");
    // Name registered, no listen on it.
    ASSERT_EQ(a_->Cmd("add ZEBSTRESSRECVER"), "0x00 1");
    EXPECT_EQ(b_->Cmd("call ZEBSTRESSSENDER ZEBSTRESSRECVER"), "0x14 0");
    // A listen for somebody else.
    ASSERT_EQ(a_->Cmd("listen ZEBSTRESSRECVER SOMEBODYELSE"), "0x00 0xFF");
    EXPECT_EQ(b_->Cmd("call ZEBSTRESSSENDER ZEBSTRESSRECVER"), "0x14 0");
    EXPECT_EQ(a_->Cmd("wait 10"), "pending");
    // A call from a name the caller does not hold.
    EXPECT_EQ(Words(b_->Cmd("call NOTMINE ZEBSTRESSRECVER"))[0], "0x15");
}

TEST_F(TwoStations, SynchronousListenAnsweredByALaterCall) {
    ASSERT_EQ(a_->Cmd("add ZEBSTRESSRECVER"), "0x00 1");
    ASSERT_EQ(b_->Cmd("add ZEBSTRESSSENDER"), "0x00 1");
    a_->Send("slisten ZEBSTRESSRECVER *");
    usleep(200000);
    EXPECT_EQ(b_->Cmd("call ZEBSTRESSSENDER ZEBSTRESSRECVER"), "0x00 1");
    EXPECT_EQ(a_->Read(5000), "0x00 1");
    // Both directions carry data.
    a_->Send("send 1 3 100");
    EXPECT_EQ(b_->Cmd("recv 1 3 100"), "0x00 3 0");
    EXPECT_EQ(a_->Read(), "0x00 3");
}

TEST_F(TwoStations, ReceiveTimeOutKeepsTheSession) {
    OpenSession("2 2"); // one second
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(a_->Cmd("recv1 " + la_ + " 64002"), "0x05 0");
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(900));
    EXPECT_LT(waited, std::chrono::milliseconds(5000));
    EXPECT_EQ(b_->Cmd("send " + lb_ + " 1 64002"), "0x00 1");
    EXPECT_EQ(a_->Cmd("recv " + la_ + " 1 64002"), "0x00 1 0");
}

TEST_F(TwoStations, LongMessageFillsTheBufferThenTheRestFollows) {
    OpenSession();
    EXPECT_EQ(b_->Cmd("send " + lb_ + " 1 64002"), "0x00 1");
    EXPECT_EQ(a_->Cmd("recv1 " + la_ + " 1000"), "0x06 1000");
    EXPECT_EQ(a_->Cmd("recv1 " + la_ + " 65000"), "0x00 63002");
    EXPECT_EQ(b_->Cmd("send " + lb_ + " 1 0"), "0x00 1"); // an empty message is a message
    EXPECT_EQ(a_->Cmd("recv1 " + la_ + " 100"), "0x00 0");
}

TEST_F(TwoStations, CancelAndDeleteEndAnOutstandingListen) {
    ASSERT_EQ(a_->Cmd("add ZEBSTRESSRECVER"), "0x00 1");
    ASSERT_EQ(a_->Cmd("listen ZEBSTRESSRECVER ZEBSTRESSSENDER"), "0x00 0xFF");
    EXPECT_EQ(a_->Cmd("cancel"), "0x00 0x0B");
    EXPECT_EQ(Words(a_->Cmd("wait 100"))[0], "0x0B");
    EXPECT_EQ(a_->Cmd("cancel"), "0x24 0x0B"); // nothing left to cancel

    ASSERT_EQ(a_->Cmd("listen ZEBSTRESSRECVER ZEBSTRESSSENDER"), "0x00 0xFF");
    EXPECT_EQ(a_->Cmd("del ZEBSTRESSRECVER"), "0x00 0");
    // Completed by the delete itself, with a nonzero code, before the delete returned.
    EXPECT_EQ(Words(a_->Cmd("wait 0"))[0], "0x17");
    // And the name is gone from the LAN: a caller finds nobody.
    ASSERT_EQ(b_->Cmd("add ZEBSTRESSSENDER"), "0x00 1");
    EXPECT_EQ(b_->Cmd("call ZEBSTRESSSENDER ZEBSTRESSRECVER"), "0x14 0");
}

TEST_F(TwoStations, ResetAndProbeLeaveNamesAndSessionsInForce) {
    OpenSession();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(a_->Cmd("reset"), "0x00");
        EXPECT_EQ(b_->Cmd("reset"), "0x00");
    }
    EXPECT_EQ(a_->Cmd("probe 0"), "0x03");
    EXPECT_EQ(a_->Cmd("probe 1"), "0x23");
    EXPECT_EQ(a_->Cmd("probe 32"), "0x23");
    EXPECT_EQ(a_->Cmd("add ZEBSTRESSRECVER"), "0x0D 0"); // still registered
    a_->Send("recv " + la_ + " 5 64002");
    EXPECT_EQ(b_->Cmd("send " + lb_ + " 5 64002"), "0x00 5");
    EXPECT_EQ(a_->Read(), "0x00 5 0");
    // A reset that asks for resources does clear the LANA.
    EXPECT_EQ(a_->Cmd("resetfull"), "0x00");
    EXPECT_EQ(Words(a_->Cmd("send " + la_ + " 1 10"))[0], "0x08");
    EXPECT_EQ(a_->Cmd("add ZEBSTRESSRECVER"), "0x00 1");
}

TEST_F(TwoStations, PeerVanishingWithUnreadDataIsAnAbort) {
    OpenSession();
    EXPECT_EQ(a_->Cmd("send " + la_ + " 1 1000"), "0x00 1"); // B never reads it
    usleep(100000);
    b_->Kill(); // the kernel resets a connection closed with unread data
    EXPECT_EQ(a_->Cmd("recv1 " + la_ + " 64002"), "0x18 0");
}

TEST_F(TwoStations, SilentAndHostileConnectionsAreClosedAndBounded) {
    ASSERT_EQ(a_->Cmd("add ZEBSTRESSRECVER"), "0x00 1");
    ASSERT_EQ(a_->Cmd("probe 0"), "0x03");
    sockaddr_in sa = nbtest::SocketAddress("127.0.0.2", static_cast<std::uint16_t>(port_ + 1));
    auto connect_to_a = [&] {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
        return fd;
    };
    auto closed_within = [](int fd, int ms) {
        pollfd p{fd, POLLIN, 0};
        char c;
        return poll(&p, 1, ms) == 1 && recv(fd, &c, 1, 0) <= 0;
    };
    // A session request header that claims a huge trailer, and one with reserved flag bits.
    int huge = connect_to_a();
    unsigned char big[4] = {0x81, 0x01, 0xff, 0xff};
    ASSERT_EQ(send(huge, big, 4, 0), 4);
    EXPECT_TRUE(closed_within(huge, 2000));
    close(huge);
    // Garbage datagrams to the name port change nothing.
    nb::Bytes junk = {0x12, 0x34, 0x29, 0x10, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x20};
    junk.resize(40);
    nbtest::UdpPeer("127.0.0.9", 0).SendTo(junk, "127.0.0.2", port_);
    // Connections that say nothing: the ones over the bound go at once, the rest in seconds.
    std::vector<int> silent;
    silent.reserve(20);
    for (int i = 0; i < 20; ++i) {
        silent.push_back(connect_to_a());
    }
    usleep(300000);
    int cut_at_once = 0;
    for (int fd : silent) {
        cut_at_once += closed_within(fd, 0) ? 1 : 0;
    }
    EXPECT_GE(cut_at_once, 4);
    EXPECT_TRUE(closed_within(silent[0], 7000));
    for (int fd : silent) {
        close(fd);
    }
    // The station still works.
    ASSERT_EQ(b_->Cmd("add ZEBSTRESSSENDER"), "0x00 1");
    ASSERT_EQ(a_->Cmd("listen ZEBSTRESSRECVER ZEBSTRESSSENDER"), "0x00 0xFF");
    EXPECT_EQ(b_->Cmd("call ZEBSTRESSSENDER ZEBSTRESSRECVER"), "0x00 1");
}

TEST_F(TwoStations, AStationThatCannotBindSaysWhyAndIsNotInstalled) {
    // Same address and ports as A: the session port is taken (A binds at its first call).
    ASSERT_EQ(a_->Cmd("probe 0"), "0x03");
    auto twin = MakeStation("127.0.0.2");
    EXPECT_EQ(twin->Cmd("probe 0"), "0x23");
    EXPECT_EQ(twin->Cmd("probe 0"), "0x23");
    std::string errors = twin->Errors();
    EXPECT_NE(errors.find("LANA 0 (127.0.0.2) not installed"), std::string::npos) << errors;
    EXPECT_EQ(errors.find("not installed"), errors.rfind("not installed")) << "said once";
    // A setting that does not parse.
    auto bad = MakeStation("127.0.0.4", {"NETBIOS_NAME_PORT=13x"});
    EXPECT_EQ(bad->Cmd("add ZEBSTRESSSENDER"), "0x23 0");
    EXPECT_NE(bad->Errors().find("NETBIOS_NAME_PORT"), std::string::npos);
}

TEST_F(TwoStations, StaticTableFindsANameWithoutBroadcast) {
    TempDir dir("nblmhosts");
    WriteFile(dir / "lmhosts", "127.0.0.2 ZEBSTRESSRECVER\n");
    ASSERT_EQ(ReadFile(dir / "lmhosts"), "127.0.0.2 ZEBSTRESSRECVER\n");
    // C broadcasts to an address nobody listens on, so only the table can find A.
    StationPlace s = Loopback("127.0.0.5", port_);
    s.broadcast = "127.0.0.6";
    s.env = {"NETBIOS_LMHOSTS=" + (dir / "lmhosts").string()};
    NbStation c(s);
    ASSERT_EQ(a_->Cmd("add ZEBSTRESSRECVER"), "0x00 1");
    ASSERT_EQ(a_->Cmd("listen ZEBSTRESSRECVER *"), "0x00 0xFF");
    ASSERT_EQ(c.Cmd("add ZEBSTRESSSENDER"), "0x00 1");
    EXPECT_EQ(c.Cmd("call ZEBSTRESSSENDER ZEBSTRESSRECVER"), "0x00 1");
}

} // namespace
