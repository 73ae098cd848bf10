// NetBIOS name encoding and name-service packets (RFC 1001 / RFC 1002): pure functions that
// turn bytes into packet structures and back, with no sockets. Every length and offset read
// from the wire is checked before use.
#ifndef ZEB_NETBIOS_NBCODEC_H
#define ZEB_NETBIOS_NBCODEC_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace nb {

using Name = std::array<unsigned char, 16>;
using Bytes = std::vector<unsigned char>;
using ByteSpan = std::span<const unsigned char>;

// A name as it travels: the 16 raw bytes and its scope ("" when none).
struct WireName {
    Name name{};
    std::string scope;
    bool operator==(const WireName&) const = default;
};

// Appends the second-level encoding: 0x20, the 32 first-level characters, the scope labels
// and the terminating zero.
void AppendEncodedName(Bytes& out, const WireName& name);

enum class DecodeStatus {
    Ok,
    Truncated,   // the name runs past the end of the packet
    BadLabel,    // a label length of 64..191, or a bad first label
    BadEncoding, // the first label is not 32 characters 'A'..'P'
    BadPointer,  // a compression pointer where none is allowed, or one not pointing back
    TooLong,     // more than 255 bytes, or too many pointers
};

// Decodes the name at offset of msg and moves offset behind it. Compression pointers are
// followed only when allow_pointers is set (name-service packets; session requests never
// use them), and only backwards, so a hostile packet cannot loop.
DecodeStatus DecodeName(ByteSpan msg, std::size_t& offset, bool allow_pointers, WireName& out);

// Name-service header flags (RFC 1002 4.2.1.1).
constexpr std::uint16_t FLAG_RESPONSE = 0x8000;
constexpr std::uint16_t FLAG_AA = 0x0400;
constexpr std::uint16_t FLAG_TC = 0x0200;
constexpr std::uint16_t FLAG_RD = 0x0100;
constexpr std::uint16_t FLAG_RA = 0x0080;
constexpr std::uint16_t FLAG_BROADCAST = 0x0010;

enum Opcode : std::uint8_t {
    OPCODE_QUERY = 0,
    OPCODE_REGISTRATION = 5,
    OPCODE_RELEASE = 6,
    OPCODE_WACK = 7,
    OPCODE_REFRESH = 8,
    OPCODE_REFRESH_ALT = 9,
    OPCODE_MULTIHOMED = 15,
};

enum Rcode : std::uint8_t {
    RCODE_OK = 0,
    RCODE_FMT_ERR = 1,
    RCODE_SRV_ERR = 2,
    RCODE_NAM_ERR = 3,
    RCODE_IMP_ERR = 4,
    RCODE_RFS_ERR = 5,
    RCODE_ACT_ERR = 6,
    RCODE_CFT_ERR = 7,
};

constexpr std::uint16_t RR_TYPE_A = 0x0001;
constexpr std::uint16_t RR_TYPE_NULL = 0x000a;
constexpr std::uint16_t RR_TYPE_NB = 0x0020;
constexpr std::uint16_t RR_TYPE_NBSTAT = 0x0021;
constexpr std::uint16_t RR_CLASS_IN = 0x0001;

constexpr std::uint16_t NB_FLAG_GROUP = 0x8000;
constexpr std::uint16_t NB_ONT_B = 0x0000;

// Largest name-service datagram (RFC 1002 MAX_DATAGRAM_LENGTH).
constexpr std::size_t MAX_DATAGRAM_LENGTH = 576;

struct Question {
    WireName name;
    std::uint16_t type = RR_TYPE_NB;
    std::uint16_t cls = RR_CLASS_IN;
};

struct Record {
    WireName name;
    std::uint16_t type = RR_TYPE_NB;
    std::uint16_t cls = RR_CLASS_IN;
    std::uint32_t ttl = 0;
    Bytes rdata;
};

struct NamePacket {
    std::uint16_t trn_id = 0;
    std::uint16_t flags = 0;
    std::vector<Question> questions;
    std::vector<Record> answers;
    std::vector<Record> authority;
    std::vector<Record> additional;

    bool IsResponse() const { return (flags & FLAG_RESPONSE) != 0; }
    std::uint8_t GetOpcode() const { return static_cast<std::uint8_t>((flags >> 11) & 0x0f); }
    std::uint8_t GetRcode() const { return static_cast<std::uint8_t>(flags & 0x0f); }
};

enum class ParseStatus { Ok, Truncated, BadName, BadRecord };

ParseStatus ParseNamePacket(ByteSpan data, NamePacket& out);

// Builds the packet. Where a record's name equals the first question's name and
// compress_records is set, the record carries the pointer C0 0C instead (as registration
// and release requests do).
Bytes BuildNamePacket(const NamePacket& packet, bool compress_records);

// One ADDR_ENTRY of NB resource data.
struct AddrEntry {
    std::uint16_t flags = 0;
    std::uint32_t address = 0; // IPv4, host byte order
    bool operator==(const AddrEntry&) const = default;
};

Bytes EncodeAddrEntry(const AddrEntry& entry);
// The entries of NB resource data; false when its length is not a multiple of 6 or zero.
bool ParseAddrEntries(ByteSpan rdata, std::vector<AddrEntry>& out);

// The packets a B-node sends.
Bytes MakeRegistrationRequest(std::uint16_t trn_id, const WireName& name, bool group,
                              std::uint32_t address);
Bytes MakeReleaseRequest(std::uint16_t trn_id, const WireName& name, bool group,
                         std::uint32_t address);
Bytes MakeQueryRequest(std::uint16_t trn_id, const WireName& name, bool broadcast);
// ont: the answering node's type in NB_FLAGS (B, or P/H with a name server).
Bytes MakePositiveQueryResponse(std::uint16_t trn_id, bool recursion_desired, const WireName& name,
                                bool group, std::uint32_t address, std::uint16_t ont = NB_ONT_B);
// A negative registration response, as a defending node sends it: the requested name with
// TTL 0 and the requester's own address entry.
Bytes MakeNegativeRegistrationResponse(std::uint16_t trn_id, const WireName& name,
                                       std::uint8_t rcode, const AddrEntry& requester);

struct StatusName {
    Name name{};
    std::uint16_t flags = 0; // NAME_FLAGS: G, ONT, DRG, CNF, ACT, PRM
};
constexpr std::uint16_t NAME_FLAG_CONFLICT = 0x0800;
constexpr std::uint16_t NAME_FLAG_ACTIVE = 0x0400;
Bytes MakeNodeStatusResponse(std::uint16_t trn_id, const WireName& question,
                             std::span<const StatusName> names);

} // namespace nb

#endif
