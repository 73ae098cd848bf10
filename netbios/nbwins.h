// The client side of a NetBIOS name server (WINS), as a P-node or H-node uses it (RFC 1001
// 15.1 and 15.2, RFC 1002 4.2): the unicast requests it sends, how the server's answers are
// read, the retransmission schedule of one request and when a granted name is refreshed. The
// stack owns the sockets and the name table; this module decides what to send and when.
#ifndef ZEB_NETBIOS_NBWINS_H
#define ZEB_NETBIOS_NBWINS_H

#include "nbcodec.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace nb {

using WinsClock = std::chrono::steady_clock;

// Owner node type in NB_FLAGS (NB_ONT_B is in nbcodec.h).
constexpr std::uint16_t NB_ONT_P = 0x2000;
constexpr std::uint16_t NB_ONT_H = 0x6000;

// Retransmission of a unicast request. RFC 1002 allows an adaptive UCAST_REQ_RETRY_TIMEOUT;
// 1.5 s, the value common stacks use on a LAN, keeps a silent server from holding an add or
// a call up for long (3 sends, 4.5 s in all).
constexpr std::chrono::milliseconds UCAST_REQ_RETRY_TIMEOUT{1500};
constexpr int UCAST_REQ_RETRY_COUNT = 3;
// The lifetime asked for a name; the server grants its own (Samba: 6 hours to 6 days).
constexpr std::uint32_t REQUESTED_TTL = 259200;
// The longest wait a WACK may impose, whatever time it names.
constexpr std::uint32_t MAX_WACK_SECONDS = 120;
// A name the server did not answer for (registered by broadcast instead, or whose refresh
// went unanswered) is offered to the server again after this long.
constexpr std::chrono::seconds SERVER_RETRY_INTERVAL{60};

// Requests to a name server: unicast, recursion desired. ont is NB_ONT_P or NB_ONT_H.
// A refresh is a registration with opcode 8; an overwrite is a registration without RD, sent
// after the owner named in an end-node challenge stayed silent.
enum class RegistrationKind { Register, Refresh, Overwrite };
Bytes MakeServerRegistration(std::uint16_t trn_id, const WireName& name, bool group,
                             std::uint16_t ont, std::uint32_t address, RegistrationKind kind);
Bytes MakeServerRelease(std::uint16_t trn_id, const WireName& name, bool group, std::uint16_t ont,
                        std::uint32_t address);
Bytes MakeServerQuery(std::uint16_t trn_id, const WireName& name);

struct ServerAnswer {
    enum class Kind {
        Positive,  // registered / refreshed / released / found
        Negative,  // refused (registration), unknown (query); rcode says why
        Wait,      // WACK: the final answer follows within ttl seconds
        Challenge, // end-node challenge: entries[0] is the current owner, ask it
    };
    Kind kind = Kind::Negative;
    std::uint8_t rcode = 0;
    std::uint32_t ttl = 0;          // granted lifetime (positive registration), WACK wait
    std::vector<AddrEntry> entries; // positive query: the owners; challenge: the owner
};

// Reads p as an answer to a request with the given opcode (OPCODE_REGISTRATION,
// OPCODE_REFRESH, OPCODE_RELEASE or OPCODE_QUERY); nullopt when it is none of the answers that
// request can have (a request, another opcode, no answer record, bad NB data).
std::optional<ServerAnswer> ReadServerAnswer(const NamePacket& p, std::uint8_t request_opcode);

// One request to a peer (the name server, or the owner an end-node challenge names) and its
// retransmissions: up to UCAST_REQ_RETRY_COUNT sends, UCAST_REQ_RETRY_TIMEOUT apart, then
// given up. A WACK stops the retransmissions and extends the wait to the time it names.
class ServerRequest {
  public:
    ServerRequest(std::uint16_t trn_id, std::uint8_t opcode, Bytes packet, std::uint32_t peer,
                  std::uint16_t port);

    std::uint16_t TrnId() const { return trn_id_; }
    const Bytes& Packet() const { return packet_; }
    std::uint32_t Peer() const { return peer_; }
    std::uint16_t Port() const { return port_; }

    // True when the packet is to be sent now; counts the send.
    bool SendDue(WinsClock::time_point now);
    // Offers a packet that came from source:port; true when it was this request's answer
    // (same transaction, from the peer, about the name asked for).
    bool Offer(const NamePacket& p, std::uint32_t source, std::uint16_t port,
               WinsClock::time_point now);
    // Answered, or no answer is to be expected any more.
    bool Done(WinsClock::time_point now) const;
    // When SendDue or Done next changes on its own.
    WinsClock::time_point NextEvent() const;
    const std::optional<ServerAnswer>& Result() const { return result_; }
    int Sends() const { return sends_; }

  private:
    std::uint16_t trn_id_;
    std::uint8_t opcode_;
    Bytes packet_;
    std::uint32_t peer_;
    std::uint16_t port_;
    WireName name_; // the request's question: an answer must be about it
    int sends_ = 0;
    bool started_ = false;
    WinsClock::time_point next_{};
    bool waiting_ = false; // a WACK came: no more sends, wait until next_
    std::optional<ServerAnswer> result_;
};

// How long after a grant of ttl seconds the name is refreshed: at half its life, so that one
// unanswered refresh still leaves time for another; nullopt for an infinite grant (ttl 0).
std::optional<std::chrono::seconds> RefreshInterval(std::uint32_t ttl);

} // namespace nb

#endif
