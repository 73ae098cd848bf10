// Name-service datagrams as they arrive on the name port: any bytes at all. Parsing never reads
// outside the datagram, and whatever parses is a packet that builds back into bytes that
// parse to the same packet.
#include "nbcodec.h"
#include "require.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <tuple>
#include <vector>

namespace {

// A scope label that holds a dot, or an empty label, has no encoding of its own: the builder
// writes the scope's labels split at dots.
bool EncodableScope(const std::string& scope) {
    std::istringstream labels(scope + ".");
    for (std::string label; !scope.empty() && std::getline(labels, label, '.');) {
        if (label.empty() || label.size() > 63) {
            return false;
        }
    }
    return true;
}

// A record's fields, compared as one.
auto Fields(const nb::Record& r) {
    return std::tie(r.name, r.type, r.cls, r.ttl, r.rdata);
}

bool SameRecords(const std::vector<nb::Record>& a, const std::vector<nb::Record>& b) {
    return std::ranges::equal(a, b, {}, Fields, Fields);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    nb::ByteSpan bytes(data, size);

    // A single name at every offset, with and without compression pointers.
    for (std::size_t at = 0; at < size && at < 64; ++at) {
        for (bool pointers : {false, true}) {
            std::size_t offset = at;
            nb::WireName name;
            if (nb::DecodeName(bytes, offset, pointers, name) == nb::DecodeStatus::Ok) {
                Require(offset > at && offset <= size);
                Require(name.scope.size() <= 255);
            }
        }
    }

    nb::NamePacket packet;
    if (nb::ParseNamePacket(bytes, packet) != nb::ParseStatus::Ok) {
        return 0;
    }
    // Every section element took at least one byte of the datagram.
    Require(packet.questions.size() + packet.answers.size() + packet.authority.size() +
                packet.additional.size() <=
            size);
    bool encodable = true;
    for (const nb::Question& q : packet.questions) {
        encodable = encodable && EncodableScope(q.name.scope);
    }
    for (const auto* section : {&packet.answers, &packet.authority, &packet.additional}) {
        for (const nb::Record& rr : *section) {
            Require(rr.rdata.size() <= size);
            encodable = encodable && EncodableScope(rr.name.scope);
            std::vector<nb::AddrEntry> entries;
            if (nb::ParseAddrEntries(rr.rdata, entries)) {
                Require(!entries.empty() && entries.size() * 6 == rr.rdata.size());
                Require(nb::EncodeAddrEntry(entries[0]) ==
                        nb::Bytes(rr.rdata.begin(), rr.rdata.begin() + 6));
            }
        }
    }
    if (!encodable) {
        return 0;
    }
    for (bool compress : {false, true}) {
        nb::Bytes built = nb::BuildNamePacket(packet, compress);
        nb::NamePacket again;
        Require(nb::ParseNamePacket(built, again) == nb::ParseStatus::Ok);
        Require(again.trn_id == packet.trn_id && again.flags == packet.flags);
        Require(again.questions.size() == packet.questions.size());
        for (std::size_t i = 0; i < packet.questions.size(); ++i) {
            Require(again.questions[i].name == packet.questions[i].name);
            Require(again.questions[i].type == packet.questions[i].type);
            Require(again.questions[i].cls == packet.questions[i].cls);
        }
        Require(SameRecords(again.answers, packet.answers));
        Require(SameRecords(again.authority, packet.authority));
        Require(SameRecords(again.additional, packet.additional));
    }
    return 0;
}
