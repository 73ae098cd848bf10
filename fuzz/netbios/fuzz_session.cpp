// The session service as a listening station meets it: a stream of arbitrary bytes, arriving
// in arbitrary pieces, read the way the station reads (never more than the reader wants).
// The reader must assemble exactly the packets a whole-stream decoding finds, refuse a bad
// header or an over-long trailer at the header, and a session request that parses must build
// back into the same bytes.
#include "nbsession.h"
#include "require.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    // The first input byte chooses the piece sizes, the second the trailer limit; the rest is
    // the stream.
    const std::size_t piece = 1u + data[0] % 97u;
    const std::size_t limit = data[1] < 128 ? nb::MAX_SESSION_REQUEST_TRAILER : data[1] * 512u;
    const nb::ByteSpan stream(data + 2, size - 2);

    nb::SessionPacketReader reader(limit);
    std::size_t at = 0;     // stream bytes handed to the reader
    std::size_t packet = 0; // where the packet under way began
    while (at < stream.size()) {
        std::size_t wanted = reader.Wanted();
        Require(wanted > 0);
        std::size_t take = std::min({wanted, piece, stream.size() - at});
        std::size_t used = 0;
        auto status = reader.Feed(stream.subspan(at, take), used);
        Require(used <= take);
        at += used;
        if (status == nb::SessionPacketReader::Status::NeedMore) {
            Require(used == take);
            continue;
        }
        // The reference: the header straight from the stream.
        Require(stream.size() - packet >= nb::SESSION_HEADER_SIZE);
        const unsigned char* header = stream.data() + packet;
        nb::SessionHeader expected;
        bool good = nb::DecodeSessionHeader(header, expected);
        if (status == nb::SessionPacketReader::Status::BadHeader) {
            Require(!good && at == packet + nb::SESSION_HEADER_SIZE);
            return 0;
        }
        Require(good);
        if (status == nb::SessionPacketReader::Status::TooLong) {
            Require(expected.length > limit && at == packet + nb::SESSION_HEADER_SIZE);
            return 0;
        }
        Require(status == nb::SessionPacketReader::Status::Complete);
        Require(reader.Header().type == expected.type);
        Require(reader.Header().length == expected.length && expected.length <= limit);
        Require(at == packet + nb::SESSION_HEADER_SIZE + expected.length);
        nb::ByteSpan trailer = reader.Trailer();
        Require(trailer.size() == expected.length);
        Require(std::equal(trailer.begin(), trailer.end(),
                           stream.begin() + static_cast<std::ptrdiff_t>(packet + 4)));
        if (expected.type == nb::SESSION_REQUEST) {
            nb::WireName called;
            nb::WireName calling;
            if (nb::ParseSessionRequest(trailer, called, calling)) {
                Require(trailer.size() <= nb::MAX_SESSION_REQUEST_TRAILER);
                nb::Bytes built = nb::BuildSessionRequest(called, calling);
                // Only scopes without dots inside a label come back byte for byte.
                bool dotted = called.scope.find('.') != std::string::npos ||
                              calling.scope.find('.') != std::string::npos;
                if (!dotted) {
                    Require(built.size() == nb::SESSION_HEADER_SIZE + trailer.size());
                    Require(std::equal(trailer.begin(), trailer.end(), built.begin() + 4));
                }
            }
        }
        reader.Reset();
        packet = at;
    }
    // Headers round-trip through the encoder.
    if (stream.size() >= nb::SESSION_HEADER_SIZE) {
        nb::SessionHeader h;
        if (nb::DecodeSessionHeader(stream.data(), h)) {
            Require(h.length <= nb::MAX_SESSION_TRAILER);
            unsigned char again[nb::SESSION_HEADER_SIZE];
            nb::EncodeSessionHeader(h.type, h.length, again);
            Require(std::equal(again, again + 4, stream.begin()));
        }
    }
    return 0;
}
