// Session-service framing.
#include "nbsession.h"

namespace nb {

bool DecodeSessionHeader(const unsigned char* header, SessionHeader& out) {
    if ((header[1] & 0xfe) != 0) {
        return false;
    }
    out.type = header[0];
    out.length = (static_cast<std::uint32_t>(header[1] & 0x01) << 16) |
                 (static_cast<std::uint32_t>(header[2]) << 8) | header[3];
    return true;
}

void EncodeSessionHeader(std::uint8_t type, std::uint32_t length, unsigned char* out) {
    out[0] = type;
    out[1] = static_cast<unsigned char>((length >> 16) & 0x01);
    out[2] = static_cast<unsigned char>(length >> 8);
    out[3] = static_cast<unsigned char>(length);
}

Bytes BuildSessionRequest(const WireName& called, const WireName& calling) {
    Bytes out(SESSION_HEADER_SIZE);
    AppendEncodedName(out, called);
    AppendEncodedName(out, calling);
    EncodeSessionHeader(SESSION_REQUEST, static_cast<std::uint32_t>(out.size() - 4), out.data());
    return out;
}

bool ParseSessionRequest(ByteSpan trailer, WireName& called, WireName& calling) {
    if (trailer.size() < 2 || trailer.size() > MAX_SESSION_REQUEST_TRAILER) {
        return false;
    }
    std::size_t offset = 0;
    if (DecodeName(trailer, offset, false, called) != DecodeStatus::Ok) {
        return false;
    }
    if (DecodeName(trailer, offset, false, calling) != DecodeStatus::Ok) {
        return false;
    }
    return offset == trailer.size();
}

Bytes BuildPositiveSessionResponse() {
    Bytes out(SESSION_HEADER_SIZE);
    EncodeSessionHeader(POSITIVE_SESSION_RESPONSE, 0, out.data());
    return out;
}

Bytes BuildNegativeSessionResponse(std::uint8_t error) {
    Bytes out(SESSION_HEADER_SIZE + 1);
    EncodeSessionHeader(NEGATIVE_SESSION_RESPONSE, 1, out.data());
    out[4] = error;
    return out;
}

SessionPacketReader::Status SessionPacketReader::Feed(ByteSpan data, std::size_t& consumed) {
    consumed = 0;
    while (consumed < data.size()) {
        std::size_t want =
            have_header_ ? SESSION_HEADER_SIZE + header_.length : SESSION_HEADER_SIZE;
        if (buffer_.size() < want) {
            std::size_t take = want - buffer_.size();
            if (take > data.size() - consumed) {
                take = data.size() - consumed;
            }
            buffer_.insert(buffer_.end(), data.begin() + static_cast<std::ptrdiff_t>(consumed),
                           data.begin() + static_cast<std::ptrdiff_t>(consumed + take));
            consumed += take;
        }
        if (buffer_.size() < want) {
            return Status::NeedMore;
        }
        if (!have_header_) {
            if (!DecodeSessionHeader(buffer_.data(), header_)) {
                return Status::BadHeader;
            }
            if (header_.length > max_trailer_) {
                return Status::TooLong;
            }
            have_header_ = true;
        }
        if (buffer_.size() == SESSION_HEADER_SIZE + header_.length) {
            return Status::Complete;
        }
    }
    if (have_header_ && buffer_.size() == SESSION_HEADER_SIZE + header_.length) {
        return Status::Complete;
    }
    return Status::NeedMore;
}

std::size_t SessionPacketReader::Wanted() const {
    std::size_t want = have_header_ ? SESSION_HEADER_SIZE + header_.length : SESSION_HEADER_SIZE;
    return want > buffer_.size() ? want - buffer_.size() : 0;
}

void SessionPacketReader::Reset() {
    buffer_.clear();
    have_header_ = false;
    header_ = {};
}

} // namespace nb
