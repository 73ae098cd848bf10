// The provider against the real world: two stations in two network namespaces joined by a
// veth pair (real broadcast), Samba's nmblookup asking a station, and tshark dissecting a
// captured session. Namespaces use the documentation range 192.0.2.0/24 and have no route
// beyond their own link; the capture is on loopback, filtered to the test's own ports.
#include "capture.h"
#include "files.h"
#include "netns.h"
#include "stations.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <unistd.h>

using namespace zebtest;

namespace {

bool Have(const char* program) {
    return !FindProgram(program).empty();
}

// Two hosts on a veth pair (see VethHostsTest), each station on the broadcast of its link.
class Namespaces : public VethHostsTest {
  protected:
    std::unique_ptr<NbStation> Host(const std::string& ns, const std::string& address) {
        return std::make_unique<NbStation>(zebtest::InNamespace(ns, address));
    }
};

TEST_F(Namespaces, TwoStationsFindEachOtherByBroadcast) {
    auto a = Host(a_, "192.0.2.1");
    auto b = Host(b_, "192.0.2.2");
    ASSERT_EQ(a->Cmd("add ZEBSTRESSRECVER"), "0x00 1") << a->Errors();
    ASSERT_EQ(b->Cmd("add ZEBSTRESSRECVER"), "0x16 0"); // defended across the link
    ASSERT_EQ(b->Cmd("add ZEBSTRESSSENDER"), "0x00 1");
    EXPECT_EQ(b->Cmd("call ZEBSTRESSSENDER ZEBSTRESSRECVER"), "0x14 0");
    ASSERT_EQ(a->Cmd("listen ZEBSTRESSRECVER ZEBSTRESSSENDER 60 60"), "0x00 0xFF");
    ASSERT_EQ(b->Cmd("call ZEBSTRESSSENDER ZEBSTRESSRECVER 60 60"), "0x00 1");
    ASSERT_EQ(a->Cmd("wait 5000"), "0x00 1 ZEBSTRESSSENDER");
    a->Send("recv 1 200 64002");
    EXPECT_EQ(b->Cmd("send 1 200 64002", 60000), "0x00 200");
    EXPECT_EQ(a->Read(60000), "0x00 200 0");
    EXPECT_EQ(b->Cmd("hangup 1"), "0x00");
    EXPECT_EQ(a->Cmd("recv1 1 64002"), "0x0A 0");
}

TEST_F(Namespaces, NmblookupFindsARegisteredName) {
    if (!Have("nmblookup")) {
        GTEST_SKIP() << "nmblookup (samba-common-bin) not installed";
    }
    auto a = Host(a_, "192.0.2.1");
    ASSERT_EQ(a->Cmd("add ZEBSTRESSRECVER"), "0x00 1") << a->Errors();
    TempDir dir("nbt-smbconf");
    WriteFile(dir / "smb.conf", "[global]\n");
    ASSERT_EQ(ReadFile(dir / "smb.conf"), "[global]\n");
    std::string run =
        "ip netns exec " + b_ + " timeout 20 nmblookup -s " + (dir / "smb.conf").string() + " ";
    ShellOutput unicast = Shell(run + "-U 192.0.2.1 --recursion ZEBSTRESSRECVER");
    EXPECT_NE(unicast.text.find("192.0.2.1 ZEBSTRESSRECVER<00>"), std::string::npos)
        << unicast.text;
    ShellOutput broadcast = Shell(run + "-B 192.0.2.255 ZEBSTRESSRECVER");
    EXPECT_NE(broadcast.text.find("192.0.2.1 ZEBSTRESSRECVER<00>"), std::string::npos)
        << broadcast.text;
    ShellOutput status = Shell(run + "-A 192.0.2.1");
    EXPECT_NE(status.text.find("ZEBSTRESSRECVER <00> -         B <ACTIVE>"), std::string::npos)
        << status.text;
    ShellOutput absent = Shell(run + "-U 192.0.2.1 --recursion NOSUCHNAME");
    EXPECT_EQ(absent.text.find("192.0.2.1 NOSUCHNAME"), std::string::npos) << absent.text;
}

TEST(Capture, TsharkDissectsNameServiceAndSessionWithoutErrors) {
    std::uint16_t port = FreePortPair();
    ASSERT_NE(port, 0);
    std::string session_port = std::to_string(port + 1);
    // Our ports only.
    Capture capture("udp port " + std::to_string(port) + " or tcp port " + session_port);
    if (!capture.Why().empty()) {
        GTEST_SKIP() << capture.Why();
    }
    {
        StationPlace s = Loopback("127.0.0.2", port);
        NbStation a(s);
        s.lanas = "127.0.0.3";
        NbStation b(s);
        ASSERT_EQ(a.Cmd("add ZEBSTRESSRECVER"), "0x00 1");
        ASSERT_EQ(b.Cmd("add ZEBSTRESSRECVER"), "0x16 0");
        ASSERT_EQ(b.Cmd("add ZEBSTRESSSENDER"), "0x00 1");
        ASSERT_EQ(b.Cmd("call ZEBSTRESSSENDER ZEBSTRESSRECVER"), "0x14 0"); // negative response
        ASSERT_EQ(a.Cmd("listen ZEBSTRESSRECVER ZEBSTRESSSENDER"), "0x00 0xFF");
        ASSERT_EQ(b.Cmd("call ZEBSTRESSSENDER ZEBSTRESSRECVER"), "0x00 1");
        a.Send("recv 1 3 64002");
        ASSERT_EQ(b.Cmd("send 1 3 64002"), "0x00 3");
        ASSERT_EQ(a.Read(), "0x00 3 0");
        ASSERT_EQ(b.Cmd("hangup 1"), "0x00");
        ASSERT_EQ(a.Cmd("recv1 1 64002"), "0x0A 0");
        ASSERT_EQ(a.Cmd("del ZEBSTRESSRECVER"), "0x00 0");
        usleep(500000);
    }
    std::string decode =
        "-d udp.port==" + std::to_string(port) + ",nbns -d tcp.port==" + session_port + ",nbss ";
    std::string verbose = capture.Read(decode + "-V");
    EXPECT_EQ(verbose.find("Malformed"), std::string::npos) << verbose.substr(0, 4000);
    EXPECT_EQ(verbose.find("Expert Info (Error"), std::string::npos);
    EXPECT_EQ(verbose.find("Illegal NetBIOS name"), std::string::npos);
    std::string fields =
        capture.Read(decode + "-T fields -e nbns.flags.opcode -e nbns.flags.rcode "
                              "-e nbss.type -e nbss.called_name -e nbss.calling_name");
    const char* expected[] = {
        "Registration", // add-name broadcasts and the defence
        "Name query",   // resolving the called name
        "Release",      // delete name
        "0x81",         // session request
        "0x83",         // negative session response (no listen yet)
        "0x82",         // positive session response
        "ZEBSTRESSRECVER<00>",
        "ZEBSTRESSSENDER<00>",
    };
    std::string all = fields + capture.Read(decode) + verbose;
    for (const char* e : expected) {
        EXPECT_NE(all.find(e), std::string::npos) << e << "\n" << fields;
    }
    // Three whole 64002-byte session messages.
    std::string lengths = capture.Read(decode + "-Y 'nbss.type == 0x00' -T fields -e nbss.length");
    int messages = 0;
    for (std::size_t at = 0; (at = lengths.find("64002", at)) != std::string::npos; ++at) {
        ++messages;
    }
    EXPECT_EQ(messages, 3) << lengths;
}

} // namespace
