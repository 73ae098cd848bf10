// Settings from the environment and the static name table.
#include "nbconfig.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>
#include <map>
#include <string>

namespace {

using Vars = std::map<std::string, std::string>;

// The settings that vars and the interfaces given make.
nb::Config Parse(const Vars& vars, const std::vector<nb::Interface>& ifs = {},
                 const std::string& defaultRoute = "") {
    auto lookup = [&](const char* n) -> const char* {
        auto it = vars.find(n);
        return it == vars.end() ? nullptr : it->second.c_str();
    };
    return nb::ParseConfig(lookup, ifs, defaultRoute);
}

std::uint32_t Ip(const char* text) {
    std::uint32_t a = 0;
    EXPECT_TRUE(nb::ParseIpv4(text, a)) << text;
    return a;
}

TEST(Settings, LoopbackStationsGetTheLoopbackBroadcast) {
    nb::Config c = Parse({{"NETBIOS_LANAS", ",,,127.0.0.2"},
                          {"NETBIOS_NAME_PORT", "41137"},
                          {"NETBIOS_SESSION_PORT", "41139"}});
    EXPECT_TRUE(c.problems.empty());
    ASSERT_EQ(c.lanas.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(c.lanas[i].configured) << i; // empty entries leave the LANA free
    }
    EXPECT_TRUE(c.lanas[3].configured);
    EXPECT_EQ(c.lanas[3].address, Ip("127.0.0.2"));
    EXPECT_EQ(c.lanas[3].broadcast, Ip("127.255.255.255"));
    EXPECT_EQ(c.name_port, 41137);
    EXPECT_EQ(c.session_port, 41139);
}

TEST(Settings, PrefixInterfaceAndExplicitBroadcast) {
    std::vector<nb::Interface> ifs = {
        {"eth0", 2, Ip("192.0.2.7"), Ip("255.255.255.0"), true, false}};
    Vars env{{"NETBIOS_LANAS", "198.51.100.9/26,192.0.2.7"}};
    nb::Config c = Parse(env, ifs, "eth0");
    ASSERT_EQ(c.lanas.size(), 2u);
    EXPECT_EQ(c.lanas[0].broadcast, Ip("198.51.100.63"));
    EXPECT_EQ(c.lanas[1].broadcast, Ip("192.0.2.255"));
    EXPECT_EQ(c.name_port, nb::DEFAULT_NAME_PORT);
    EXPECT_EQ(c.session_port, nb::DEFAULT_SESSION_PORT);

    env["NETBIOS_BROADCAST"] = "192.0.2.127";
    c = Parse(env, ifs, "eth0");
    EXPECT_EQ(c.lanas[0].broadcast, Ip("192.0.2.127"));
    EXPECT_EQ(c.lanas[1].broadcast, Ip("192.0.2.127"));
}

TEST(Settings, WhatDoesNotParseIsReportedAndNotInstalled) {
    // The limited broadcast address, spelt out only at run time.
    const std::string all_ones = nb::FormatIpv4(0xffffffffu);
    struct Case {
        const char* var;
        std::string value;
    } cases[] = {
        {"NETBIOS_NAME_PORT", "0"},      {"NETBIOS_NAME_PORT", "65536"},
        {"NETBIOS_SESSION_PORT", "13x"}, {"NETBIOS_BROADCAST", "127.255.255"},
        {"NETBIOS_BROADCAST", all_ones},
    };
    for (const Case& k : cases) {
        nb::Config c = Parse({{"NETBIOS_LANAS", "127.0.0.2"}, {k.var, k.value}});
        EXPECT_FALSE(c.problems.empty()) << k.var << "=" << k.value;
        ASSERT_EQ(c.lanas.size(), 1u);
        EXPECT_FALSE(c.lanas[0].configured) << k.var << "=" << k.value;
    }
    // A bad entry only costs its own LANA; an unknown address without a prefix too; and a
    // /0 prefix would mean the limited broadcast.
    nb::Config c = Parse({{"NETBIOS_LANAS", "127.0.0.2,not-an-address,203.0.113.5,127.0.0.3/0"}});
    ASSERT_EQ(c.lanas.size(), 4u);
    EXPECT_TRUE(c.lanas[0].configured);
    EXPECT_FALSE(c.lanas[1].configured);
    EXPECT_FALSE(c.lanas[2].configured);
    EXPECT_FALSE(c.lanas[3].configured);
    EXPECT_EQ(c.problems.size(), 3u);
}

TEST(Settings, DefaultsPutTheDefaultRouteFirstAndSkipLoopback) {
    std::vector<nb::Interface> ifs = {
        {"lo", 1, Ip("127.0.0.1"), Ip("255.0.0.0"), true, true},
        {"eth0", 2, Ip("10.1.0.5"), Ip("255.255.0.0"), true, false},
        {"eth1", 3, Ip("192.0.2.7"), Ip("255.255.255.0"), true, false},
        {"eth2", 4, Ip("198.51.100.1"), Ip("255.255.255.0"), false, false},
    };
    const char* routes = "Iface\tDestination\tGateway\tFlags\tRefCnt\tUse\tMetric\tMask\n"
                         "eth0\t00000A0A\t00000000\t0001\t0\t0\t0\t0000FFFF\n"
                         "eth1\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\n";
    std::string def = nb::DefaultRouteInterface(routes);
    EXPECT_EQ(def, "eth1");
    nb::Config c = Parse({}, ifs, def);
    ASSERT_EQ(c.lanas.size(), 2u);
    EXPECT_EQ(c.lanas[0].address, Ip("192.0.2.7"));
    EXPECT_EQ(c.lanas[1].address, Ip("10.1.0.5"));
    EXPECT_EQ(c.lanas[1].broadcast, Ip("10.1.255.255"));
}

TEST(StaticTable, FormsOfNamesAndBadLines) {
    std::vector<nb::StaticEntry> table;
    std::vector<std::string> problems;
    nb::ParseStaticTable("# comment\n"
                         "192.0.2.2 zebstressrecver #PRE\n"
                         "192.0.2.3 \"ABC\\0x1b\"\n"
                         "192.0.2.4 SRV#20\n"
                         "bogus NAME\n"
                         "192.0.2.5\n",
                         table, problems);
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(problems.size(), 2u);

    nb::Name recver{};
    std::memcpy(recver.data(), "ZEBSTRESSRECVER", 15);
    EXPECT_TRUE(nb::StaticEntryMatches(table[0], recver));
    recver[15] = 0x20;
    EXPECT_TRUE(nb::StaticEntryMatches(table[0], recver)); // a bare name: any 16th byte
    EXPECT_EQ(table[0].address, Ip("192.0.2.2"));

    nb::Name abc;
    abc.fill(0x20);
    std::memcpy(abc.data(), "ABC\x1b", 4);
    EXPECT_TRUE(nb::StaticEntryMatches(table[1], abc));
    abc[3] = 0x20;
    EXPECT_FALSE(nb::StaticEntryMatches(table[1], abc));

    nb::Name srv;
    srv.fill(0x20);
    std::memcpy(srv.data(), "SRV", 3);
    srv[15] = 0x20;
    EXPECT_TRUE(nb::StaticEntryMatches(table[2], srv));
    srv[15] = 0x00;
    EXPECT_FALSE(nb::StaticEntryMatches(table[2], srv));
    nb::Name zero_padded{};
    std::memcpy(zero_padded.data(), "SRV", 3);
    zero_padded[15] = 0x20;
    EXPECT_TRUE(nb::StaticEntryMatches(table[2], zero_padded));
}

TEST(Settings, NameServerMakesAnHNodeAndNodeTypeNeedsIt) {
    Vars env{{"NETBIOS_LANAS", "127.0.0.2"}, {"NETBIOS_WINS", "127.0.0.9:41200"}};
    nb::Config c = Parse(env);
    EXPECT_TRUE(c.problems.empty());
    ASSERT_TRUE(c.name_server.has_value());
    EXPECT_EQ(c.name_server->address, Ip("127.0.0.9"));
    EXPECT_EQ(c.name_server->port, 41200);
    EXPECT_EQ(c.node_type, nb::NodeType::H);
    EXPECT_TRUE(c.lanas[0].configured);

    env["NETBIOS_NODE_TYPE"] = "p";
    EXPECT_EQ(Parse(env).node_type, nb::NodeType::P);
    env["NETBIOS_NODE_TYPE"] = "B"; // the server is then not used
    EXPECT_EQ(Parse(env).node_type, nb::NodeType::B);

    // Without a name server only a B-node makes sense; the others leave nothing installed.
    Vars bare{{"NETBIOS_LANAS", "127.0.0.2"}};
    EXPECT_EQ(Parse(bare).node_type, nb::NodeType::B);
    for (const char* bad : {"P", "H", "M", "x"}) {
        bare["NETBIOS_NODE_TYPE"] = bad;
        c = Parse(bare);
        EXPECT_EQ(c.problems.size(), 1u) << bad;
        EXPECT_FALSE(c.lanas[0].configured) << bad;
    }
    // A name server that is no unicast address, or no address at all, is not guessed at.
    // The limited broadcast address is written out from its numeric form.
    char limitedBroadcast[INET_ADDRSTRLEN];
    const in_addr everyone{htonl(INADDR_BROADCAST)};
    ASSERT_NE(inet_ntop(AF_INET, &everyone, limitedBroadcast, sizeof limitedBroadcast), nullptr);
    for (const char* bad :
         {static_cast<const char*>(limitedBroadcast), "0.0.0.0", "127.0.0.9:0", "wins.example"}) {
        c = Parse({{"NETBIOS_LANAS", "127.0.0.2"}, {"NETBIOS_WINS", bad}});
        EXPECT_EQ(c.problems.size(), 1u) << bad;
        EXPECT_FALSE(c.name_server.has_value()) << bad;
        EXPECT_FALSE(c.lanas[0].configured) << bad;
    }
}

} // namespace
