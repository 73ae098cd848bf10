// Name encoding, name-service packets and session framing against wire bytes.
#include "nbpeer.h"
#include "nbsession.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using nb::Bytes;
using nbtest::NameOf;

Bytes FromHex(std::string hex) {
    std::erase_if(hex, [](char c) { return c == ' ' || c == '\n'; });
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

// ZEBSTRESSRECVER followed by 0x00, as the engine fills a name field.
const char* RECVER_ENCODED = "20 46 4b 45 46 45 43 46 44 46 45 46 43 45 46 46"
                             "44 46 44 46 43 45 46 45 44 46 47 45 46 46 43 41 41 00";

TEST(NameEncoding, FirstAndSecondLevelMatchTheWire) {
    Bytes out;
    nb::AppendEncodedName(out, NameOf("ZEBSTRESSRECVER"));
    EXPECT_EQ(out, FromHex(RECVER_ENCODED));

    nb::WireName scoped = NameOf("ZEBSTRESSRECVER");
    scoped.scope = "LAB.TEST";
    out.clear();
    nb::AppendEncodedName(out, scoped);
    ASSERT_EQ(out.size(), 43u);
    EXPECT_EQ(out[33], 3);
    EXPECT_EQ(std::string(out.begin() + 34, out.begin() + 37), "LAB");
    EXPECT_EQ(out[37], 4);

    std::size_t offset = 0;
    nb::WireName back;
    ASSERT_EQ(nb::DecodeName(out, offset, false, back), nb::DecodeStatus::Ok);
    EXPECT_EQ(back, scoped);
    EXPECT_EQ(offset, out.size());
}

TEST(NameEncoding, HostileNamesAreRefused) {
    Bytes good = FromHex(RECVER_ENCODED);
    nb::WireName n;
    std::size_t offset = 0;
    // Decodes bytes from at; the offset it stops at is left in offset.
    auto decode = [&](const Bytes& bytes, std::size_t at, bool pointers) {
        offset = at;
        return nb::DecodeName(bytes, offset, pointers, n);
    };

    Bytes truncated(good.begin(), good.end() - 5);
    EXPECT_EQ(decode(truncated, 0, true), nb::DecodeStatus::Truncated);

    Bytes bad_char = good;
    bad_char[5] = 'Q';
    EXPECT_EQ(decode(bad_char, 0, true), nb::DecodeStatus::BadEncoding);
    EXPECT_EQ(decode(FromHex("03 41 41 41 00"), 0, true), nb::DecodeStatus::BadLabel);

    // A pointer to itself, and one pointing forwards, must not loop or read ahead.
    EXPECT_EQ(decode(FromHex("c0 00"), 0, true), nb::DecodeStatus::BadPointer);
    Bytes forward = good;
    forward.insert(forward.begin(), {0xc0, 0x02});
    EXPECT_EQ(decode(forward, 0, true), nb::DecodeStatus::BadPointer);

    // Session requests never carry pointers.
    Bytes pointer = good;
    pointer.insert(pointer.end(), {0xc0, 0x00});
    EXPECT_EQ(decode(pointer, good.size(), false), nb::DecodeStatus::BadPointer);
    EXPECT_EQ(decode(pointer, good.size(), true), nb::DecodeStatus::Ok);
    EXPECT_EQ(offset, pointer.size());
    EXPECT_EQ(n, NameOf("ZEBSTRESSRECVER"));

    // Scope labels past 255 bytes in all.
    Bytes longname = good;
    longname.pop_back();
    for (int i = 0; i < 5; ++i) {
        longname.push_back(63);
        longname.insert(longname.end(), 63, 'X');
    }
    longname.push_back(0);
    EXPECT_EQ(decode(longname, 0, true), nb::DecodeStatus::TooLong);
}

TEST(NamePackets, RegistrationRequestMatchesTheWire) {
    // Broadcast registration of ZEBSTRESSRECVER<00>, unique, B-node, 192.0.2.2.
    Bytes built = nb::MakeRegistrationRequest(0x1234, NameOf("ZEBSTRESSRECVER"), false, 0xc0000202);
    EXPECT_EQ(built, FromHex(std::string("12 34 29 10 00 01 00 00 00 00 00 01") + RECVER_ENCODED +
                             "00 20 00 01 c0 0c 00 20 00 01 00 00 00 00 00 06 00 00 c0 00 02 02"));

    nb::NamePacket p;
    ASSERT_EQ(nb::ParseNamePacket(built, p), nb::ParseStatus::Ok);
    EXPECT_EQ(p.trn_id, 0x1234);
    EXPECT_EQ(p.GetOpcode(), nb::OPCODE_REGISTRATION);
    EXPECT_FALSE(p.IsResponse());
    ASSERT_EQ(p.questions.size(), 1u);
    ASSERT_EQ(p.additional.size(), 1u);
    EXPECT_EQ(p.additional[0].name, NameOf("ZEBSTRESSRECVER")); // through the C0 0C pointer
    std::vector<nb::AddrEntry> entries;
    ASSERT_TRUE(nb::ParseAddrEntries(p.additional[0].rdata, entries));
    EXPECT_EQ(entries[0], (nb::AddrEntry{0, 0xc0000202}));
    EXPECT_EQ(nb::BuildNamePacket(p, true), built); // decode, re-encode, compare
}

TEST(NamePackets, ResponsesCarryTheProtocolFlags) {
    nb::NamePacket p;
    Bytes query = nb::MakeQueryRequest(7, NameOf("ZEBSTRESSSENDER"), true);
    EXPECT_EQ(query.size(), 50u);
    ASSERT_EQ(nb::ParseNamePacket(query, p), nb::ParseStatus::Ok);
    EXPECT_EQ(p.flags, 0x0110);

    Bytes positive =
        nb::MakePositiveQueryResponse(7, true, NameOf("ZEBSTRESSSENDER"), false, 0x7f000003);
    ASSERT_EQ(nb::ParseNamePacket(positive, p), nb::ParseStatus::Ok);
    EXPECT_EQ(p.flags, 0x8580);
    ASSERT_EQ(p.answers.size(), 1u);
    EXPECT_EQ(p.answers[0].rdata, FromHex("00 00 7f 00 00 03"));

    Bytes negative = nb::MakeNegativeRegistrationResponse(9, NameOf("X"), nb::RCODE_ACT_ERR,
                                                          {0x8000, 0x7f000002});
    ASSERT_EQ(nb::ParseNamePacket(negative, p), nb::ParseStatus::Ok);
    EXPECT_EQ(p.flags, 0xad86);
    EXPECT_EQ(p.answers[0].ttl, 0u);

    nb::StatusName names[] = {{NameOf("A").name, nb::NAME_FLAG_ACTIVE}};
    Bytes status = nb::MakeNodeStatusResponse(3, NameOf("*"), names);
    ASSERT_EQ(nb::ParseNamePacket(status, p), nb::ParseStatus::Ok);
    EXPECT_EQ(p.flags, 0x8400);
    EXPECT_EQ(p.answers[0].type, nb::RR_TYPE_NBSTAT);
    EXPECT_EQ(p.answers[0].rdata.size(), 1u + 18u + 46u);
}

TEST(NamePackets, TruncatedOrLyingPacketsAreRejected) {
    Bytes good = nb::MakeRegistrationRequest(1, NameOf("ZEBSTRESSRECVER"), false, 1);
    nb::NamePacket p;
    for (std::size_t cut = 0; cut < good.size(); ++cut) {
        Bytes part(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
        EXPECT_NE(nb::ParseNamePacket(part, p), nb::ParseStatus::Ok) << "cut at " << cut;
    }
    Bytes long_rdlength = good;
    long_rdlength[good.size() - 7] = 0x40; // RDLENGTH far past the end
    EXPECT_EQ(nb::ParseNamePacket(long_rdlength, p), nb::ParseStatus::Truncated);
    Bytes many = good;
    many[5] = 0xff; // QDCOUNT 255 with one question present
    EXPECT_NE(nb::ParseNamePacket(many, p), nb::ParseStatus::Ok);

    std::vector<nb::AddrEntry> entries;
    EXPECT_FALSE(nb::ParseAddrEntries(FromHex("00 00 7f 00 00"), entries));
    EXPECT_FALSE(nb::ParseAddrEntries({}, entries));
}

TEST(SessionFraming, SessionRequestMatchesTheWire) {
    Bytes request = nb::BuildSessionRequest(NameOf("ZEBSTRESSRECVER"), NameOf("ZEBSTRESSSENDER"));
    ASSERT_EQ(request.size(), 72u);
    EXPECT_EQ(Bytes(request.begin(), request.begin() + 4), FromHex("81 00 00 44"));
    EXPECT_EQ(Bytes(request.begin() + 4, request.begin() + 38), FromHex(RECVER_ENCODED));

    nb::WireName called;
    nb::WireName calling;
    nb::ByteSpan trailer(request.data() + 4, request.size() - 4);
    ASSERT_TRUE(nb::ParseSessionRequest(trailer, called, calling));
    EXPECT_EQ(called, NameOf("ZEBSTRESSRECVER"));
    EXPECT_EQ(calling, NameOf("ZEBSTRESSSENDER"));
    // One byte short, or one byte extra, is not a session request.
    EXPECT_FALSE(nb::ParseSessionRequest(trailer.first(trailer.size() - 1), called, calling));
    Bytes extra(trailer.begin(), trailer.end());
    extra.push_back(0);
    EXPECT_FALSE(nb::ParseSessionRequest(extra, called, calling));
}

TEST(SessionFraming, HeaderLengthUsesTheExtensionBit) {
    unsigned char h[4];
    nb::EncodeSessionHeader(nb::SESSION_MESSAGE, 64002, h);
    EXPECT_EQ(Bytes(h, h + 4), FromHex("00 00 fa 02"));
    nb::EncodeSessionHeader(nb::SESSION_MESSAGE, 70000, h);
    EXPECT_EQ(Bytes(h, h + 4), FromHex("00 01 11 70"));
    nb::SessionHeader out;
    ASSERT_TRUE(nb::DecodeSessionHeader(h, out));
    EXPECT_EQ(out.length, 70000u);
    h[1] = 0x80; // reserved flag bit (not the extension)
    EXPECT_FALSE(nb::DecodeSessionHeader(h, out));
}

TEST(SessionFraming, ReaderAssemblesPiecesAndStopsAtThePacket) {
    Bytes stream = nb::BuildSessionRequest(NameOf("A"), NameOf("B"));
    Bytes keepalive = FromHex("85 00 00 00");
    stream.insert(stream.end(), keepalive.begin(), keepalive.end());

    nb::SessionPacketReader reader(nb::MAX_SESSION_REQUEST_TRAILER);
    std::size_t pos = 0;
    nb::SessionPacketReader::Status st = nb::SessionPacketReader::Status::NeedMore;
    while (st == nb::SessionPacketReader::Status::NeedMore) {
        EXPECT_GT(reader.Wanted(), 0u);
        std::size_t used = 0;
        st = reader.Feed({stream.data() + pos, 3}, used); // three bytes at a time
        pos += used;
    }
    ASSERT_EQ(st, nb::SessionPacketReader::Status::Complete);
    EXPECT_EQ(pos, 72u); // not a byte of the keep-alive taken
    EXPECT_EQ(reader.Header().type, nb::SESSION_REQUEST);
    EXPECT_EQ(reader.Trailer().size(), 68u);

    reader.Reset();
    std::size_t used = 0;
    EXPECT_EQ(reader.Feed({stream.data() + pos, 4}, used),
              nb::SessionPacketReader::Status::Complete);
    EXPECT_EQ(reader.Header().type, nb::SESSION_KEEP_ALIVE);

    nb::SessionPacketReader small(16);
    Bytes big = FromHex("81 00 01 00");
    EXPECT_EQ(small.Feed(big, used), nb::SessionPacketReader::Status::TooLong);
    nb::SessionPacketReader flags(16);
    EXPECT_EQ(flags.Feed(FromHex("81 02 00 00"), used), nb::SessionPacketReader::Status::BadHeader);
}

} // namespace
