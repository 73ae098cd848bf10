// NetBIOS name encoding and name-service packets.
#include "nbcodec.h"

namespace nb {

namespace {

void Put16(Bytes& out, std::uint16_t v) {
    out.push_back(static_cast<unsigned char>(v >> 8));
    out.push_back(static_cast<unsigned char>(v));
}

void Put32(Bytes& out, std::uint32_t v) {
    Put16(out, static_cast<std::uint16_t>(v >> 16));
    Put16(out, static_cast<std::uint16_t>(v));
}

bool Get16(ByteSpan data, std::size_t& offset, std::uint16_t& v) {
    if (data.size() < 2 || offset > data.size() - 2) {
        return false;
    }
    v = static_cast<std::uint16_t>((data[offset] << 8) | data[offset + 1]);
    offset += 2;
    return true;
}

bool Get32(ByteSpan data, std::size_t& offset, std::uint32_t& v) {
    std::uint16_t hi = 0;
    std::uint16_t lo = 0;
    if (!Get16(data, offset, hi) || !Get16(data, offset, lo)) {
        return false;
    }
    v = (static_cast<std::uint32_t>(hi) << 16) | lo;
    return true;
}

// Longest encoded name (RFC 1002 4.1, as in DNS) and the most pointers followed in one name.
constexpr std::size_t MAX_NAME_LENGTH = 255;
constexpr int MAX_POINTERS = 8;

ParseStatus ParseRecord(ByteSpan data, std::size_t& offset, Record& rr) {
    if (DecodeName(data, offset, true, rr.name) != DecodeStatus::Ok) {
        return ParseStatus::BadName;
    }
    std::uint16_t rdlength = 0;
    if (!Get16(data, offset, rr.type) || !Get16(data, offset, rr.cls) ||
        !Get32(data, offset, rr.ttl) || !Get16(data, offset, rdlength)) {
        return ParseStatus::Truncated;
    }
    if (rdlength > data.size() - offset) {
        return ParseStatus::Truncated;
    }
    rr.rdata.assign(data.begin() + static_cast<std::ptrdiff_t>(offset),
                    data.begin() + static_cast<std::ptrdiff_t>(offset + rdlength));
    offset += rdlength;
    return ParseStatus::Ok;
}

void AppendRecord(Bytes& out, const Record& rr, bool pointer) {
    if (pointer) {
        out.push_back(0xc0);
        out.push_back(0x0c);
    } else {
        AppendEncodedName(out, rr.name);
    }
    Put16(out, rr.type);
    Put16(out, rr.cls);
    Put32(out, rr.ttl);
    Put16(out, static_cast<std::uint16_t>(rr.rdata.size()));
    out.insert(out.end(), rr.rdata.begin(), rr.rdata.end());
}

Record NbRecord(const WireName& name, std::uint32_t ttl, const AddrEntry& entry) {
    Record rr;
    rr.name = name;
    rr.ttl = ttl;
    rr.rdata = EncodeAddrEntry(entry);
    return rr;
}

} // namespace

void AppendEncodedName(Bytes& out, const WireName& name) {
    out.push_back(0x20);
    for (unsigned char b : name.name) {
        out.push_back(static_cast<unsigned char>('A' + (b >> 4)));
        out.push_back(static_cast<unsigned char>('A' + (b & 0x0f)));
    }
    std::size_t start = 0;
    while (start < name.scope.size()) {
        std::size_t dot = name.scope.find('.', start);
        if (dot == std::string::npos) {
            dot = name.scope.size();
        }
        std::size_t len = dot - start;
        if (len > 63) {
            len = 63; // a longer label cannot be encoded; the caller keeps scopes short
        }
        out.push_back(static_cast<unsigned char>(len));
        out.insert(out.end(), name.scope.begin() + static_cast<std::ptrdiff_t>(start),
                   name.scope.begin() + static_cast<std::ptrdiff_t>(start + len));
        start = dot + 1;
    }
    out.push_back(0x00);
}

DecodeStatus DecodeName(ByteSpan msg, std::size_t& offset, bool allow_pointers, WireName& out) {
    std::size_t pos = offset;
    std::size_t resume = 0; // where parsing continues after the first pointer; 0 = none yet
    std::size_t total = 0;
    int pointers = 0;
    bool first = true;
    out.scope.clear();
    for (;;) {
        if (pos >= msg.size()) {
            return DecodeStatus::Truncated;
        }
        unsigned char len = msg[pos];
        if ((len & 0xc0) == 0xc0) {
            if (!allow_pointers) {
                return DecodeStatus::BadPointer;
            }
            if (pos + 1 >= msg.size()) {
                return DecodeStatus::Truncated;
            }
            std::size_t target = (static_cast<std::size_t>(len & 0x3f) << 8) | msg[pos + 1];
            // Only backwards, so a chain of pointers always ends (and is capped besides).
            if (target >= pos || ++pointers > MAX_POINTERS) {
                return DecodeStatus::BadPointer;
            }
            if (resume == 0) {
                resume = pos + 2;
            }
            pos = target;
            continue;
        }
        if (len > 63) {
            return DecodeStatus::BadLabel;
        }
        total += 1u + len;
        if (total > MAX_NAME_LENGTH) {
            return DecodeStatus::TooLong;
        }
        if (len > msg.size() - pos - 1) {
            return DecodeStatus::Truncated;
        }
        const unsigned char* label = msg.data() + pos + 1;
        if (first) {
            if (len != 32) {
                return DecodeStatus::BadLabel;
            }
            for (std::size_t i = 0; i < 16; ++i) {
                unsigned char hi = label[2 * i];
                unsigned char lo = label[2 * i + 1];
                if (hi < 'A' || hi > 'P' || lo < 'A' || lo > 'P') {
                    return DecodeStatus::BadEncoding;
                }
                out.name[i] = static_cast<unsigned char>(((hi - 'A') << 4) | (lo - 'A'));
            }
            first = false;
        } else if (len == 0) {
            break;
        } else {
            if (!out.scope.empty()) {
                out.scope.push_back('.');
            }
            out.scope.append(reinterpret_cast<const char*>(label), len);
        }
        pos += 1u + len;
    }
    offset = resume != 0 ? resume : pos + 1;
    return DecodeStatus::Ok;
}

ParseStatus ParseNamePacket(ByteSpan data, NamePacket& out) {
    std::size_t offset = 0;
    std::uint16_t counts[4] = {};
    if (!Get16(data, offset, out.trn_id) || !Get16(data, offset, out.flags)) {
        return ParseStatus::Truncated;
    }
    for (auto& c : counts) {
        if (!Get16(data, offset, c)) {
            return ParseStatus::Truncated;
        }
    }
    out.questions.clear();
    for (unsigned i = 0; i < counts[0]; ++i) {
        Question q;
        if (DecodeName(data, offset, true, q.name) != DecodeStatus::Ok) {
            return ParseStatus::BadName;
        }
        if (!Get16(data, offset, q.type) || !Get16(data, offset, q.cls)) {
            return ParseStatus::Truncated;
        }
        out.questions.push_back(std::move(q));
    }
    std::vector<Record>* sections[3] = {&out.answers, &out.authority, &out.additional};
    for (int s = 0; s < 3; ++s) {
        sections[s]->clear();
        for (unsigned i = 0; i < counts[s + 1]; ++i) {
            Record rr;
            ParseStatus st = ParseRecord(data, offset, rr);
            if (st != ParseStatus::Ok) {
                return st;
            }
            sections[s]->push_back(std::move(rr));
        }
    }
    return ParseStatus::Ok;
}

Bytes BuildNamePacket(const NamePacket& packet, bool compress_records) {
    Bytes out;
    out.reserve(128);
    Put16(out, packet.trn_id);
    Put16(out, packet.flags);
    Put16(out, static_cast<std::uint16_t>(packet.questions.size()));
    Put16(out, static_cast<std::uint16_t>(packet.answers.size()));
    Put16(out, static_cast<std::uint16_t>(packet.authority.size()));
    Put16(out, static_cast<std::uint16_t>(packet.additional.size()));
    for (const Question& q : packet.questions) {
        AppendEncodedName(out, q.name);
        Put16(out, q.type);
        Put16(out, q.cls);
    }
    for (const auto* section : {&packet.answers, &packet.authority, &packet.additional}) {
        for (const Record& rr : *section) {
            bool pointer = compress_records && !packet.questions.empty() &&
                           rr.name == packet.questions.front().name;
            AppendRecord(out, rr, pointer);
        }
    }
    return out;
}

Bytes EncodeAddrEntry(const AddrEntry& entry) {
    Bytes out;
    Put16(out, entry.flags);
    Put32(out, entry.address);
    return out;
}

bool ParseAddrEntries(ByteSpan rdata, std::vector<AddrEntry>& out) {
    out.clear();
    if (rdata.empty() || rdata.size() % 6 != 0) {
        return false;
    }
    std::size_t offset = 0;
    while (offset < rdata.size()) {
        AddrEntry e;
        Get16(rdata, offset, e.flags);
        Get32(rdata, offset, e.address);
        out.push_back(e);
    }
    return true;
}

Bytes MakeRegistrationRequest(std::uint16_t trn_id, const WireName& name, bool group,
                              std::uint32_t address) {
    NamePacket p;
    p.trn_id = trn_id;
    p.flags = static_cast<std::uint16_t>((OPCODE_REGISTRATION << 11) | FLAG_RD | FLAG_BROADCAST);
    p.questions.push_back({name, RR_TYPE_NB, RR_CLASS_IN});
    p.additional.push_back(NbRecord(
        name, 0, {static_cast<std::uint16_t>((group ? NB_FLAG_GROUP : 0) | NB_ONT_B), address}));
    return BuildNamePacket(p, true);
}

Bytes MakeReleaseRequest(std::uint16_t trn_id, const WireName& name, bool group,
                         std::uint32_t address) {
    NamePacket p;
    p.trn_id = trn_id;
    p.flags = static_cast<std::uint16_t>((OPCODE_RELEASE << 11) | FLAG_BROADCAST);
    p.questions.push_back({name, RR_TYPE_NB, RR_CLASS_IN});
    p.additional.push_back(NbRecord(
        name, 0, {static_cast<std::uint16_t>((group ? NB_FLAG_GROUP : 0) | NB_ONT_B), address}));
    return BuildNamePacket(p, true);
}

Bytes MakeQueryRequest(std::uint16_t trn_id, const WireName& name, bool broadcast) {
    NamePacket p;
    p.trn_id = trn_id;
    p.flags = static_cast<std::uint16_t>(FLAG_RD | (broadcast ? FLAG_BROADCAST : 0));
    p.questions.push_back({name, RR_TYPE_NB, RR_CLASS_IN});
    return BuildNamePacket(p, false);
}

Bytes MakePositiveQueryResponse(std::uint16_t trn_id, bool recursion_desired, const WireName& name,
                                bool group, std::uint32_t address, std::uint16_t ont) {
    NamePacket p;
    p.trn_id = trn_id;
    p.flags = static_cast<std::uint16_t>(FLAG_RESPONSE | FLAG_AA | FLAG_RA |
                                         (recursion_desired ? FLAG_RD : 0));
    p.answers.push_back(NbRecord(
        name, 0, {static_cast<std::uint16_t>((group ? NB_FLAG_GROUP : 0) | ont), address}));
    return BuildNamePacket(p, false);
}

Bytes MakeNegativeRegistrationResponse(std::uint16_t trn_id, const WireName& name,
                                       std::uint8_t rcode, const AddrEntry& requester) {
    NamePacket p;
    p.trn_id = trn_id;
    p.flags = static_cast<std::uint16_t>(FLAG_RESPONSE | (OPCODE_REGISTRATION << 11) | FLAG_AA |
                                         FLAG_RD | FLAG_RA | (rcode & 0x0f));
    p.answers.push_back(NbRecord(name, 0, requester));
    return BuildNamePacket(p, false);
}

Bytes MakeNodeStatusResponse(std::uint16_t trn_id, const WireName& question,
                             std::span<const StatusName> names) {
    NamePacket p;
    p.trn_id = trn_id;
    p.flags = static_cast<std::uint16_t>(FLAG_RESPONSE | FLAG_AA);
    Record rr;
    rr.name = question;
    rr.type = RR_TYPE_NBSTAT;
    // At most as many names as fit one datagram: 18 bytes each beside 46 of statistics.
    std::size_t count = names.size() < 20 ? names.size() : 20;
    rr.rdata.push_back(static_cast<unsigned char>(count));
    for (std::size_t i = 0; i < count; ++i) {
        rr.rdata.insert(rr.rdata.end(), names[i].name.begin(), names[i].name.end());
        Put16(rr.rdata, names[i].flags);
    }
    rr.rdata.resize(rr.rdata.size() + 46, 0); // statistics: unit ID and counters, all zero
    p.answers.push_back(std::move(rr));
    return BuildNamePacket(p, false);
}

} // namespace nb
