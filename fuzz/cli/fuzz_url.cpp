// The URL parser, fed arbitrary test file names: a parsed URL written back in the libraries'
// spelling parses to the same parts, no URL with a password is taken, and masking leaves a
// text without a password as it is and is done once for all.
#include "url.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool Same(const url::Url& a, const url::Url& b) {
    return a.scheme == b.scheme && a.user == b.user && a.host == b.host && a.ipv6 == b.ipv6 &&
           a.port == b.port && a.path == b.path && a.query == b.query;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const url::Parsed parsed = url::Parse(text);
    Require(parsed.url.has_value() == parsed.refusal.empty());
    const url::Scheme scheme = url::SchemeOf(text);
    if (scheme != url::Scheme::Local && url::HoldsPassword(text)) {
        Require(!parsed.url);
    }
    if (parsed.url && scheme != url::Scheme::Local) {
        const url::Url& u = *parsed.url;
        const std::string again = url::Joined(u, u.ipv6 ? "[" + u.host + "]" : u.host);
        const url::Parsed reparsed = url::Parse(again);
        Require(reparsed.url && Same(*reparsed.url, u));
    }
    const std::string masked = url::Masked(text);
    Require(url::HoldsPassword(text) || masked == text);
    Require(url::Masked(masked) == masked);
    Require(url::Decoded(text).size() <= text.size());
    return 0;
}
