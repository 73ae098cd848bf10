#include "url.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstddef>

namespace url {

namespace {

constexpr std::string_view kSeparator = "://";

// The refusals, each completing "the URL ...".
constexpr char kPassword[] = "holds a password: give it in PASSWD or an authentication file, "
                             "never in the URL";
constexpr char kNfsPassword[] = "holds a password, which NFS does not take";
constexpr char kUnknownScheme[] = "has a scheme other than smb:// and nfs:// (write a local "
                                  "file whose name holds \"://\" as ./NAME)";
constexpr char kNoServer[] = "names no server";
constexpr char kTwoAts[] = "holds more than one @ before the server (write an @ of the user "
                           "name as %40)";
constexpr char kEmptyUser[] = "has nothing in front of its @";
constexpr char kNfsUser[] = "names a user, which NFS does not take (the server sees the "
                            "process's uid, or ?uid=N)";
constexpr char kBadHost[] = "names a server that is not a host name or an IPv4 address (an "
                            "IPv6 address goes in brackets: [::1])";
constexpr char kBadIpv6[] = "holds no IPv6 address between its brackets";
constexpr char kBadPort[] = "has a port that is not a number from 1 to 65535";
constexpr char kSmbPath[] = "names no share and file after the server (smb://server/share/file)";
constexpr char kNfsPath[] = "names no export and file after the server (nfs://server/export/file)";
constexpr char kDirectory[] = "ends in /: it names a directory, not a file";
constexpr char kBadName[] = "has an empty, \".\" or \"..\" name in its path";

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The length of the scheme in front of "://" at the start of text (RFC 3986: a letter, then
// letters, digits, '+', '-' and '.'); 0 when text does not begin with one.
std::size_t SchemeLength(std::string_view text) {
    if (text.empty() || !IsAlpha(text[0])) {
        return 0;
    }
    std::size_t i = 1;
    while (i < text.size() && (IsAlpha(text[i]) || IsDigit(text[i]) || text[i] == '+' ||
                               text[i] == '-' || text[i] == '.')) {
        ++i;
    }
    return text.substr(i).starts_with(kSeparator) ? i : 0;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return Lower(x) == Lower(y); });
}

// Where the authority that begins at text[from] ends: at the path's slash, the query's '?'
// or the end.
std::size_t AuthorityEnd(std::string_view text, std::size_t from) {
    return std::min(text.find_first_of("/?", from), text.size());
}

// Where the password of a user part begins (its colon, written or percent-encoded), npos when
// it has none.
std::size_t PasswordAt(std::string_view user) {
    for (std::size_t i = 0; i < user.size(); ++i) {
        if (user[i] == ':') {
            return i;
        }
        if (user[i] == '%' && i + 2 < user.size() && user[i + 1] == '3' &&
            Lower(user[i + 2]) == 'a') {
            return i;
        }
    }
    return std::string_view::npos;
}

// Calls found(userBegin, userEnd) for the user part of every URL in text, in order.
template <typename Found> void ForEachUserPart(std::string_view text, Found found) {
    for (std::size_t at = text.find(kSeparator); at != std::string_view::npos;
         at = text.find(kSeparator, at + kSeparator.size())) {
        const std::size_t begin = at + kSeparator.size();
        const std::size_t end = AuthorityEnd(text, begin);
        const std::size_t sign = text.substr(begin, end - begin).rfind('@');
        if (sign != std::string_view::npos) {
            found(begin, begin + sign);
        }
    }
}

// A host name or IPv4 address: RFC 3986's reg-name without percent escapes.
bool IsHostName(std::string_view host) {
    constexpr std::string_view kAllowed = "-._~!$&'()*+,;=";
    return !host.empty() && host.size() <= 255 &&
           std::all_of(host.begin(), host.end(), [&](char c) {
               return IsAlpha(c) || IsDigit(c) || kAllowed.find(c) != std::string_view::npos;
           });
}

bool IsIpv6(std::string_view address) {
    if (address.size() >= INET6_ADDRSTRLEN) {
        return false;
    }
    const std::string text(address);
    unsigned char bytes[16];
    return inet_pton(AF_INET6, text.c_str(), bytes) == 1;
}

// A port of 1 to 65535 in decimal; 0 for anything else.
std::uint16_t Port(std::string_view text) {
    if (text.empty() || text.size() > 5 || !std::all_of(text.begin(), text.end(), IsDigit)) {
        return 0;
    }
    unsigned value = 0;
    for (char c : text) {
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value <= 65535 ? static_cast<std::uint16_t>(value) : 0;
}

// The server part: host, port. Returns the refusal, empty on success.
const char* ParseServer(std::string_view server, Url& url) {
    std::string_view portText;
    bool portGiven = false;
    if (server.starts_with('[')) {
        const std::size_t close = server.find(']');
        if (close == std::string_view::npos || !IsIpv6(server.substr(1, close - 1))) {
            return kBadIpv6;
        }
        url.host = server.substr(1, close - 1);
        url.ipv6 = true;
        const std::string_view after = server.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != ':') {
                return kBadIpv6;
            }
            portText = after.substr(1);
            portGiven = true;
        }
    } else {
        const std::size_t colon = server.find(':');
        if (colon != std::string_view::npos) {
            if (server.find(':', colon + 1) != std::string_view::npos) {
                return kBadHost; // an IPv6 address without its brackets
            }
            portText = server.substr(colon + 1);
            portGiven = true;
            server = server.substr(0, colon);
        }
        if (server.empty()) {
            return kNoServer;
        }
        if (!IsHostName(server)) {
            return kBadHost;
        }
        url.host = server;
    }
    if (portGiven && (url.port = Port(portText)) == 0) {
        return kBadPort;
    }
    return "";
}

// The path after the server: a file below a share (SMB) or an export (NFS), every name in it
// a name (a client would resolve ".." itself, or trip over it).
const char* CheckPath(std::string_view path, Scheme scheme) {
    const char* missing = scheme == Scheme::Smb ? kSmbPath : kNfsPath;
    if (path.size() <= 1) {
        return missing;
    }
    if (path.ends_with('/')) {
        return kDirectory;
    }
    std::size_t names = 0;
    for (std::size_t at = 1; at <= path.size();) {
        const std::size_t end = std::min(path.find('/', at), path.size());
        const std::string_view name = path.substr(at, end - at);
        if (name.empty() || name == "." || name == "..") {
            return kBadName;
        }
        ++names;
        at = end + 1;
    }
    return names < (scheme == Scheme::Smb ? 2u : 1u) ? missing : "";
}

Parsed Refused(const char* why) {
    return Parsed{std::nullopt, why};
}

} // namespace

Scheme SchemeOf(std::string_view text) {
    const std::size_t length = SchemeLength(text);
    if (length == 0) {
        return Scheme::Local;
    }
    const std::string_view name = text.substr(0, length);
    if (SameIgnoringCase(name, "smb")) {
        return Scheme::Smb;
    }
    if (SameIgnoringCase(name, "nfs")) {
        return Scheme::Nfs;
    }
    return Scheme::Unknown;
}

Parsed Parse(std::string_view text) {
    Url url;
    url.scheme = SchemeOf(text);
    if (url.scheme == Scheme::Local) {
        url.path = text;
        return Parsed{url, ""};
    }
    // A password is refused before anything else is said about the URL.
    if (HoldsPassword(text)) {
        return Refused(url.scheme == Scheme::Nfs ? kNfsPassword : kPassword);
    }
    if (url.scheme == Scheme::Unknown) {
        return Refused(kUnknownScheme);
    }
    const std::size_t begin = SchemeLength(text) + kSeparator.size();
    const std::size_t end = AuthorityEnd(text, begin);
    std::string_view server = text.substr(begin, end - begin);
    if (const std::size_t sign = server.rfind('@'); sign != std::string_view::npos) {
        // The SMB client ends the user part at the first @, this parser at the last: an URL
        // they would read apart is refused.
        if (server.find('@') != sign) {
            return Refused(kTwoAts);
        }
        if (sign == 0) {
            return Refused(kEmptyUser);
        }
        if (url.scheme == Scheme::Nfs) {
            return Refused(kNfsUser);
        }
        url.user = server.substr(0, sign);
        server.remove_prefix(sign + 1);
    }
    if (const char* why = ParseServer(server, url); why[0] != '\0') {
        return Refused(why);
    }
    const std::string_view rest = text.substr(end);
    const std::size_t question = std::min(rest.find('?'), rest.size());
    url.path = rest.substr(0, question);
    if (question < rest.size()) {
        url.query = rest.substr(question + 1);
    }
    if (const char* why = CheckPath(url.path, url.scheme); why[0] != '\0') {
        return Refused(why);
    }
    return Parsed{url, ""};
}

bool HoldsPassword(std::string_view text) {
    bool holds = false;
    ForEachUserPart(text, [&](std::size_t begin, std::size_t end) {
        holds = holds || PasswordAt(text.substr(begin, end - begin)) != std::string_view::npos;
    });
    return holds;
}

std::string Masked(std::string_view text) {
    std::string masked;
    std::size_t copied = 0;
    ForEachUserPart(text, [&](std::size_t begin, std::size_t end) {
        const std::size_t colon = PasswordAt(text.substr(begin, end - begin));
        if (colon != std::string_view::npos) {
            masked.append(text.substr(copied, begin + colon - copied)).append(":****");
            copied = end;
        }
    });
    return masked.append(text.substr(copied));
}

std::string Decoded(std::string_view text) {
    const auto hex = [](char c) -> int {
        if (IsDigit(c)) {
            return c - '0';
        }
        c = Lower(c);
        return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 &&
            hex(text[i + 2]) >= 0) {
            decoded += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

std::string Joined(const Url& url, std::string_view host) {
    std::string joined = url.scheme == Scheme::Smb ? "smb://" : "nfs://";
    if (!url.user.empty()) {
        joined.append(url.user).append("@");
    }
    joined.append(host);
    if (url.port != 0) {
        joined.append(":").append(std::to_string(url.port));
    }
    joined.append(url.path);
    if (!url.query.empty()) {
        joined.append("?").append(url.query);
    }
    return joined;
}

} // namespace url
