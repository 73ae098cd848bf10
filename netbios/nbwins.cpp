// Name server client: requests, answers and their timing.
#include "nbwins.h"

#include <algorithm>

namespace nb {

namespace {

NamePacket Request(std::uint16_t trn_id, std::uint16_t flags, const WireName& name) {
    NamePacket p;
    p.trn_id = trn_id;
    p.flags = flags;
    p.questions.push_back({name, RR_TYPE_NB, RR_CLASS_IN});
    return p;
}

Record NbRecord(const WireName& name, std::uint32_t ttl, bool group, std::uint16_t ont,
                std::uint32_t address) {
    Record rr;
    rr.name = name;
    rr.ttl = ttl;
    rr.rdata =
        EncodeAddrEntry({static_cast<std::uint16_t>((group ? NB_FLAG_GROUP : 0) | ont), address});
    return rr;
}

} // namespace

Bytes MakeServerRegistration(std::uint16_t trn_id, const WireName& name, bool group,
                             std::uint16_t ont, std::uint32_t address, RegistrationKind kind) {
    // Registration 0x2900, overwrite 0x2800, refresh 0x4000 (RFC 1002 4.2.2 to 4.2.4).
    std::uint16_t flags = kind == RegistrationKind::Refresh
                              ? static_cast<std::uint16_t>(OPCODE_REFRESH << 11)
                              : static_cast<std::uint16_t>(OPCODE_REGISTRATION << 11);
    if (kind == RegistrationKind::Register) {
        flags |= FLAG_RD;
    }
    NamePacket p = Request(trn_id, flags, name);
    p.additional.push_back(NbRecord(name, REQUESTED_TTL, group, ont, address));
    return BuildNamePacket(p, true);
}

Bytes MakeServerRelease(std::uint16_t trn_id, const WireName& name, bool group, std::uint16_t ont,
                        std::uint32_t address) {
    NamePacket p = Request(trn_id, static_cast<std::uint16_t>(OPCODE_RELEASE << 11), name);
    p.additional.push_back(NbRecord(name, 0, group, ont, address));
    return BuildNamePacket(p, true);
}

Bytes MakeServerQuery(std::uint16_t trn_id, const WireName& name) {
    return BuildNamePacket(Request(trn_id, FLAG_RD, name), false);
}

std::optional<ServerAnswer> ReadServerAnswer(const NamePacket& p, std::uint8_t request_opcode) {
    if (!p.IsResponse() || p.answers.empty()) {
        return std::nullopt;
    }
    const Record& rr = p.answers[0];
    std::uint8_t opcode = p.GetOpcode();
    ServerAnswer a;
    a.rcode = p.GetRcode();
    a.ttl = rr.ttl;
    if (opcode == OPCODE_WACK) {
        if (request_opcode == OPCODE_QUERY) {
            return std::nullopt;
        }
        a.kind = ServerAnswer::Kind::Wait;
        return a;
    }
    bool registration = request_opcode == OPCODE_REGISTRATION || request_opcode == OPCODE_REFRESH;
    // A refresh is answered with the registration opcode (Samba) or its own (RFC 1002).
    bool matches = opcode == request_opcode ||
                   (request_opcode == OPCODE_REFRESH &&
                    (opcode == OPCODE_REGISTRATION || opcode == OPCODE_REFRESH_ALT));
    if (!matches) {
        return std::nullopt;
    }
    if (a.rcode != RCODE_OK) {
        a.kind = ServerAnswer::Kind::Negative;
        return a;
    }
    if (request_opcode == OPCODE_QUERY) {
        if (rr.type != RR_TYPE_NB || !ParseAddrEntries(rr.rdata, a.entries)) {
            return std::nullopt;
        }
        a.kind = ServerAnswer::Kind::Positive;
        return a;
    }
    if (registration && (p.flags & FLAG_RA) == 0) {
        // An end-node challenge names the current owner; without it there is nobody to ask.
        if (request_opcode != OPCODE_REGISTRATION || !ParseAddrEntries(rr.rdata, a.entries)) {
            return std::nullopt;
        }
        a.kind = ServerAnswer::Kind::Challenge;
        return a;
    }
    a.kind = ServerAnswer::Kind::Positive;
    return a;
}

ServerRequest::ServerRequest(std::uint16_t trn_id, std::uint8_t opcode, Bytes packet,
                             std::uint32_t peer, std::uint16_t port)
    : trn_id_(trn_id), opcode_(opcode), packet_(std::move(packet)), peer_(peer), port_(port) {
    NamePacket p;
    if (ParseNamePacket(packet_, p) == ParseStatus::Ok && !p.questions.empty()) {
        name_ = p.questions[0].name;
    }
}

bool ServerRequest::SendDue(WinsClock::time_point now) {
    if (result_ || waiting_ || sends_ >= UCAST_REQ_RETRY_COUNT) {
        return false;
    }
    if (started_ && now < next_) {
        return false;
    }
    started_ = true;
    ++sends_;
    next_ = now + UCAST_REQ_RETRY_TIMEOUT;
    return true;
}

bool ServerRequest::Offer(const NamePacket& p, std::uint32_t source, std::uint16_t port,
                          WinsClock::time_point now) {
    if (p.trn_id != trn_id_ || source != peer_ || port != port_ || !started_) {
        return false;
    }
    std::optional<ServerAnswer> a = ReadServerAnswer(p, opcode_);
    if (!a || p.answers[0].name != name_) {
        return false;
    }
    if (result_) {
        return true; // a repeated answer: the first one stands
    }
    if (a->kind == ServerAnswer::Kind::Wait) {
        // A WACK without a time gets the wait that retransmissions would have had.
        std::uint32_t seconds = a->ttl == 0 ? 5 : std::min(a->ttl, MAX_WACK_SECONDS);
        waiting_ = true;
        next_ = now + std::chrono::seconds(seconds);
        return true;
    }
    result_ = std::move(a);
    return true;
}

bool ServerRequest::Done(WinsClock::time_point now) const {
    if (result_) {
        return true;
    }
    return started_ && now >= next_ && (waiting_ || sends_ >= UCAST_REQ_RETRY_COUNT);
}

WinsClock::time_point ServerRequest::NextEvent() const {
    return started_ ? next_ : WinsClock::time_point::min();
}

std::optional<std::chrono::seconds> RefreshInterval(std::uint32_t ttl) {
    if (ttl == 0) {
        return std::nullopt;
    }
    return std::chrono::seconds(std::max<std::uint32_t>(ttl / 2, 1));
}

} // namespace nb
