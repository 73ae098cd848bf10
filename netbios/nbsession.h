// Session-service framing (RFC 1002 4.3): the 4-byte packet header, the session request and
// its responses, and a reader that assembles one whole packet from a byte stream. Pure
// functions over bytes; the stack does the socket I/O.
#ifndef ZEB_NETBIOS_NBSESSION_H
#define ZEB_NETBIOS_NBSESSION_H

#include "nbcodec.h"

#include <cstddef>
#include <cstdint>

namespace nb {

enum SessionType : std::uint8_t {
    SESSION_MESSAGE = 0x00,
    SESSION_REQUEST = 0x81,
    POSITIVE_SESSION_RESPONSE = 0x82,
    NEGATIVE_SESSION_RESPONSE = 0x83,
    RETARGET_SESSION_RESPONSE = 0x84,
    SESSION_KEEP_ALIVE = 0x85,
};

// Negative session response codes.
enum SessionError : std::uint8_t {
    SESSION_NOT_LISTENING_ON_CALLED = 0x80,
    SESSION_NOT_LISTENING_FOR_CALLING = 0x81,
    SESSION_CALLED_NOT_PRESENT = 0x82,
    SESSION_INSUFFICIENT_RESOURCES = 0x83,
    SESSION_UNSPECIFIED_ERROR = 0x8f,
};

constexpr std::size_t SESSION_HEADER_SIZE = 4;
// The length field has 17 bits: 16 plus the E (extension) flag.
constexpr std::uint32_t MAX_SESSION_TRAILER = 0x1ffff;
// Session requests longer than this are not NetBIOS (Wireshark accepts 2..256).
constexpr std::size_t MAX_SESSION_REQUEST_TRAILER = 256;

struct SessionHeader {
    std::uint8_t type = 0;
    std::uint32_t length = 0;
};

// False when reserved flag bits are set.
bool DecodeSessionHeader(const unsigned char* header, SessionHeader& out);
// length must not exceed MAX_SESSION_TRAILER.
void EncodeSessionHeader(std::uint8_t type, std::uint32_t length, unsigned char* out);

Bytes BuildSessionRequest(const WireName& called, const WireName& calling);
// Parses the trailer of a session request: both names written out in full, nothing behind.
bool ParseSessionRequest(ByteSpan trailer, WireName& called, WireName& calling);

Bytes BuildPositiveSessionResponse();
Bytes BuildNegativeSessionResponse(std::uint8_t error);

// Assembles one session packet (header and trailer) from stream bytes fed in pieces.
// Packets whose trailer exceeds the limit are refused, so a peer cannot make it buffer more.
class SessionPacketReader {
  public:
    enum class Status { NeedMore, Complete, BadHeader, TooLong };

    explicit SessionPacketReader(std::size_t max_trailer) : max_trailer_(max_trailer) {}

    // Takes bytes from data; consumed says how many. Stops after a complete packet.
    Status Feed(ByteSpan data, std::size_t& consumed);
    // How many bytes the packet under way still lacks for its current part (header or
    // whole packet); reading no more than this never takes bytes of the next packet.
    std::size_t Wanted() const;
    const SessionHeader& Header() const { return header_; }
    ByteSpan Trailer() const { return {buffer_.data() + SESSION_HEADER_SIZE, header_.length}; }
    void Reset();

  private:
    std::size_t max_trailer_;
    SessionHeader header_;
    Bytes buffer_;
    bool have_header_ = false;
};

} // namespace nb

#endif
