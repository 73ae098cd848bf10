// The name server client's packets, how it reads a server's answers and the timing of one
// request (retransmissions, WACK), without sockets.
#include "nbpeer.h"
#include "nbwins.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using nb::ServerAnswer;

nb::WireName Recver() {
    return nbtest::NameOf("ZEBSTRESSRECVER");
}

constexpr std::uint32_t STATION = 0xC0000202; // 192.0.2.2
constexpr std::uint32_t SERVER = 0xC0000209;  // 192.0.2.9

// The station's own request to the server.
nb::Bytes Registration(std::uint16_t trn_id,
                       nb::RegistrationKind kind = nb::RegistrationKind::Register) {
    return nb::MakeServerRegistration(trn_id, Recver(), false, nb::NB_ONT_H, STATION, kind);
}

nb::NamePacket Parse(const nb::Bytes& bytes) {
    nb::NamePacket p;
    EXPECT_EQ(nb::ParseNamePacket(bytes, p), nb::ParseStatus::Ok);
    return p;
}

// A server's answer: flags, one answer record about the name with ttl and NB entries.
nb::NamePacket Answer(std::uint16_t trn_id, std::uint16_t flags, std::uint32_t ttl,
                      const std::vector<nb::AddrEntry>& entries,
                      std::uint16_t type = nb::RR_TYPE_NB) {
    nb::NamePacket p;
    p.trn_id = trn_id;
    p.flags = flags;
    nb::Record rr;
    rr.name = Recver();
    rr.type = type;
    rr.ttl = ttl;
    for (const nb::AddrEntry& e : entries) {
        nb::Bytes b = nb::EncodeAddrEntry(e);
        rr.rdata.insert(rr.rdata.end(), b.begin(), b.end());
    }
    p.answers.push_back(rr);
    return Parse(nb::BuildNamePacket(p, false)); // through the wire form, as it arrives
}

TEST(ServerPackets, RequestsCarryTheUnicastFlagsAndTheNodeType) {
    struct Case {
        nb::Bytes packet;
        std::uint16_t flags;
        std::uint32_t ttl;
    };
    const Case cases[] = {
        {Registration(0x1234, nb::RegistrationKind::Register), 0x2900, nb::REQUESTED_TTL},
        {Registration(0x1234, nb::RegistrationKind::Refresh), 0x4000, nb::REQUESTED_TTL},
        {Registration(0x1234, nb::RegistrationKind::Overwrite), 0x2800, nb::REQUESTED_TTL},
        {nb::MakeServerRelease(0x1234, Recver(), false, nb::NB_ONT_H, STATION), 0x3000, 0},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(c.packet.size(), 68u); // 12 header, 38 question, 18 record (pointer C0 0C)
        EXPECT_EQ(c.packet[2] << 8 | c.packet[3], c.flags);
        EXPECT_EQ(c.packet[50], 0xC0);
        EXPECT_EQ(c.packet[51], 0x0C);
        nb::NamePacket p = Parse(c.packet);
        EXPECT_EQ(p.trn_id, 0x1234);
        ASSERT_EQ(p.additional.size(), 1u);
        EXPECT_EQ(p.additional[0].ttl, c.ttl);
        std::vector<nb::AddrEntry> entries;
        ASSERT_TRUE(nb::ParseAddrEntries(p.additional[0].rdata, entries));
        EXPECT_EQ(entries[0], (nb::AddrEntry{nb::NB_ONT_H, STATION}));
    }
    nb::Bytes group = nb::MakeServerRegistration(1, Recver(), true, nb::NB_ONT_P, STATION,
                                                 nb::RegistrationKind::Register);
    EXPECT_EQ(group[62] << 8 | group[63], nb::NB_FLAG_GROUP | nb::NB_ONT_P);

    nb::Bytes query = nb::MakeServerQuery(0x4321, Recver());
    ASSERT_EQ(query.size(), 50u);
    EXPECT_EQ(query[2] << 8 | query[3], 0x0100); // RD, no B: asked of the server alone
}

TEST(ServerAnswers, EachKindIsToldApartAndStrayPacketsAreNot) {
    const nb::AddrEntry owner{nb::NB_ONT_H, 0xC0000203};
    const nb::AddrEntry mine{nb::NB_ONT_H, STATION};
    auto read = [](const nb::NamePacket& p, std::uint8_t opcode) {
        return nb::ReadServerAnswer(p, opcode);
    };
    auto granted = read(Answer(1, 0xAD80, 21600, {mine}), nb::OPCODE_REGISTRATION);
    ASSERT_TRUE(granted);
    EXPECT_EQ(granted->kind, ServerAnswer::Kind::Positive);
    EXPECT_EQ(granted->ttl, 21600u);
    // Samba answers a refresh with the registration opcode; RFC 1002 with its own.
    for (std::uint16_t flags : {0xAD80, 0xC580, 0xCD80}) {
        auto refreshed = read(Answer(1, flags, 600, {mine}), nb::OPCODE_REFRESH);
        ASSERT_TRUE(refreshed) << flags;
        EXPECT_EQ(refreshed->kind, ServerAnswer::Kind::Positive);
    }
    auto held = read(Answer(1, 0xAD86, 0, {mine}), nb::OPCODE_REGISTRATION);
    ASSERT_TRUE(held);
    EXPECT_EQ(held->kind, ServerAnswer::Kind::Negative);
    EXPECT_EQ(held->rcode, nb::RCODE_ACT_ERR);
    auto wack = read(Answer(1, 0xBC00, 60, {}, nb::RR_TYPE_NULL), nb::OPCODE_REGISTRATION);
    ASSERT_TRUE(wack);
    EXPECT_EQ(wack->kind, ServerAnswer::Kind::Wait);
    EXPECT_EQ(wack->ttl, 60u);
    auto challenge = read(Answer(1, 0xAD00, 0, {owner}), nb::OPCODE_REGISTRATION);
    ASSERT_TRUE(challenge);
    EXPECT_EQ(challenge->kind, ServerAnswer::Kind::Challenge);
    EXPECT_EQ(challenge->entries, std::vector<nb::AddrEntry>{owner});
    auto released = read(Answer(1, 0xB400, 0, {mine}), nb::OPCODE_RELEASE);
    ASSERT_TRUE(released);
    EXPECT_EQ(released->kind, ServerAnswer::Kind::Positive);
    auto found = read(Answer(1, 0x8580, 0, {owner, mine}), nb::OPCODE_QUERY);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->kind, ServerAnswer::Kind::Positive);
    EXPECT_EQ(found->entries, (std::vector<nb::AddrEntry>{owner, mine}));
    auto unknown = read(Answer(1, 0x8583, 0, {}, nb::RR_TYPE_NULL), nb::OPCODE_QUERY);
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->kind, ServerAnswer::Kind::Negative);
    EXPECT_EQ(unknown->rcode, nb::RCODE_NAM_ERR);

    // Not an answer to the request in hand.
    EXPECT_FALSE(read(Answer(1, 0xAD80, 600, {mine}), nb::OPCODE_QUERY));
    EXPECT_FALSE(read(Answer(1, 0x8580, 0, {mine}), nb::OPCODE_REGISTRATION));
    EXPECT_FALSE(read(Answer(1, 0xBC00, 60, {}, nb::RR_TYPE_NULL), nb::OPCODE_QUERY));
    EXPECT_FALSE(read(Answer(1, 0x2900, 0, {mine}), nb::OPCODE_REGISTRATION)); // a request
    EXPECT_FALSE(read(Answer(1, 0xAD00, 0, {owner}), nb::OPCODE_REFRESH));     // no challenge
    EXPECT_FALSE(read(Answer(1, 0xAD00, 0, {}), nb::OPCODE_REGISTRATION)); // challenge, no owner
    EXPECT_FALSE(read(Answer(1, 0x8580, 0, {}), nb::OPCODE_QUERY));        // found, no address
    nb::NamePacket empty;
    empty.flags = 0xAD80;
    EXPECT_FALSE(read(empty, nb::OPCODE_REGISTRATION));
}

TEST(ServerRequest, RetransmitsThreeTimesThenGivesUp) {
    auto t0 = nb::WinsClock::time_point{} + 100s;
    nb::ServerRequest r(7, nb::OPCODE_QUERY, {1, 2, 3}, SERVER, 137);
    EXPECT_EQ(r.NextEvent(), nb::WinsClock::time_point::min()); // due at once
    EXPECT_TRUE(r.SendDue(t0));
    EXPECT_FALSE(r.SendDue(t0 + 1499ms));
    EXPECT_FALSE(r.Done(t0 + 1499ms));
    EXPECT_EQ(r.NextEvent(), t0 + nb::UCAST_REQ_RETRY_TIMEOUT);
    EXPECT_TRUE(r.SendDue(t0 + 1500ms));
    EXPECT_TRUE(r.SendDue(t0 + 3000ms));
    EXPECT_FALSE(r.SendDue(t0 + 4500ms));
    EXPECT_FALSE(r.Done(t0 + 4499ms));
    EXPECT_TRUE(r.Done(t0 + 4500ms));
    EXPECT_FALSE(r.Result());
    EXPECT_EQ(r.Sends(), nb::UCAST_REQ_RETRY_COUNT);
}

TEST(ServerRequest, TakesOnlyItsOwnAnswerAndAWackStopsRetransmission) {
    auto t0 = nb::WinsClock::time_point{} + 100s;
    nb::ServerRequest r(7, nb::OPCODE_REGISTRATION, Registration(7), SERVER, 137);
    nb::NamePacket refused = Answer(7, 0xAD86, 0, {{nb::NB_ONT_H, STATION}});
    EXPECT_FALSE(r.Offer(refused, SERVER, 137, t0)); // nothing sent yet: no answer either
    ASSERT_TRUE(r.SendDue(t0));
    EXPECT_FALSE(r.Offer(Answer(8, 0xAD86, 0, {{nb::NB_ONT_H, STATION}}), SERVER, 137, t0));
    EXPECT_FALSE(r.Offer(refused, SERVER + 1, 137, t0)); // from another host
    EXPECT_FALSE(r.Offer(refused, SERVER, 138, t0));     // from another port
    nb::NamePacket other = refused;
    other.answers[0].name.name[0] = 'X';
    EXPECT_FALSE(r.Offer(other, SERVER, 137, t0)); // about another name

    ASSERT_TRUE(r.Offer(Answer(7, 0xBC00, 10, {}, nb::RR_TYPE_NULL), SERVER, 137, t0 + 1s));
    EXPECT_FALSE(r.SendDue(t0 + 1500ms)); // the server is working on it
    EXPECT_FALSE(r.SendDue(t0 + 5s));
    EXPECT_FALSE(r.Done(t0 + 10s));
    EXPECT_EQ(r.NextEvent(), t0 + 11s);
    ASSERT_TRUE(r.Offer(refused, SERVER, 137, t0 + 8s));
    EXPECT_TRUE(r.Done(t0 + 8s));
    ASSERT_TRUE(r.Result());
    EXPECT_EQ(r.Result()->kind, ServerAnswer::Kind::Negative);
    // A late duplicate changes nothing.
    EXPECT_TRUE(r.Offer(Answer(7, 0xAD80, 600, {{nb::NB_ONT_H, STATION}}), SERVER, 137, t0 + 9s));
    EXPECT_EQ(r.Result()->kind, ServerAnswer::Kind::Negative);

    // A WACK that asks for hours is held to the cap; one without a time gets a short wait.
    nb::ServerRequest slow(9, nb::OPCODE_REGISTRATION, Registration(9), SERVER, 137);
    ASSERT_TRUE(slow.SendDue(t0));
    ASSERT_TRUE(slow.Offer(Answer(9, 0xBC00, 86400, {}, nb::RR_TYPE_NULL), SERVER, 137, t0));
    EXPECT_EQ(slow.NextEvent(), t0 + std::chrono::seconds(nb::MAX_WACK_SECONDS));
    EXPECT_TRUE(slow.Done(t0 + std::chrono::seconds(nb::MAX_WACK_SECONDS)));
    EXPECT_FALSE(slow.Result());
}

TEST(ServerRequest, RefreshAtHalfTheGrantedLife) {
    EXPECT_FALSE(nb::RefreshInterval(0)); // infinite
    EXPECT_EQ(nb::RefreshInterval(21600), 10800s);
    EXPECT_EQ(nb::RefreshInterval(1), 1s);
}

} // namespace
