// The file servers' URLs, read in one place for the engine's backends and zebcli:
//   smb://[[domain;]user@]server[:port]/share/dir/file
//   nfs://server[:port]/export/dir/file[?settings]
// The scheme in any case; the server a host name, an IPv4 address or an IPv6 address in
// brackets. Anything that does not begin with "scheme://" is a local path. A password in the
// user part (any colon, written or percent-encoded) is never taken: it would show in every
// report, result and process listing that names the test file.
#ifndef ZEB_URL_H
#define ZEB_URL_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace url {

// What a test file's name is: a local path, the URL of one of the file servers, or an URL of
// a scheme the kit does not serve.
enum class Scheme { Local, Smb, Nfs, Unknown };

struct Url {
    Scheme scheme = Scheme::Local;
    // As written, percent escapes kept ("domain;user" for SMB); empty when none is given.
    std::string user;
    // An IPv6 address without its brackets (ipv6 is then set).
    std::string host;
    bool ipv6 = false;
    // 0: the protocol's own.
    std::uint16_t port = 0;
    // From the slash after the server up to the '?', as written: "/share/dir/file". A local
    // path whole.
    std::string path;
    // After the '?', without it; empty when there is none.
    std::string query;
};

// A parsed name, or why it is refused: refusal completes "the URL ..." and never quotes the
// text, which may hold a secret.
struct Parsed {
    std::optional<Url> url;
    std::string refusal;
};

// The scheme alone, without checking the rest.
Scheme SchemeOf(std::string_view text);

// The name's parts: a local path as it is; an smb:// or nfs:// URL checked in full.
Parsed Parse(std::string_view text);

// Whether any URL in text holds a password ("user:pw@", ":pw@", "user%3Apw@").
bool HoldsPassword(std::string_view text);

// text with the password of every URL in it replaced by "****" (the user name stays).
std::string Masked(std::string_view text);

// text with its percent escapes (%XX) decoded, as the SMB client reads a share and path.
std::string Decoded(std::string_view text);

// An URL's parts written back in the client libraries' spelling: the scheme in lower case,
// an IPv6 server in the given form (its brackets are not taken by every library), the port,
// path and query as parsed.
std::string Joined(const Url& url, std::string_view host);

} // namespace url

#endif
