// The provider's settings from the environment.
#include "nbconfig.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sstream>

namespace nb {

namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) {
        s.remove_prefix(1);
    }
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) {
        s.remove_suffix(1);
    }
    return s;
}

bool ParseNumber(std::string_view text, unsigned long max, unsigned long& out) {
    if (text.empty()) {
        return false;
    }
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && out <= max;
}

bool ParsePort(std::string_view text, std::uint16_t& out) {
    unsigned long v = 0;
    if (!ParseNumber(text, 65535, v) || v == 0) {
        return false;
    }
    out = static_cast<std::uint16_t>(v);
    return true;
}

std::uint32_t PrefixMask(unsigned prefix) {
    return prefix == 0 ? 0 : ~std::uint32_t{0} << (32 - prefix);
}

bool IsLoopback(std::uint32_t address) {
    return (address >> 24) == 127;
}

// The limited broadcast address is never used: the provider broadcasts to its subnet only.
bool IsLimitedBroadcast(std::uint32_t address) {
    return address == INADDR_BROADCAST;
}

bool ParseHexByte(std::string_view s, unsigned char& out) {
    unsigned long v = 0;
    if (s.size() != 2) {
        return false;
    }
    auto [end, ec] = std::from_chars(s.data(), s.data() + 2, v, 16);
    if (ec != std::errc() || end != s.data() + 2) {
        return false;
    }
    out = static_cast<unsigned char>(v);
    return true;
}

bool ParseStaticName(std::string_view token, StaticEntry& entry) {
    entry.name.fill(0x20);
    if (token.size() >= 2 && token.front() == '"' && token.back() == '"') {
        std::string_view body = token.substr(1, token.size() - 2);
        std::size_t n = 0;
        for (std::size_t i = 0; i < body.size(); ++i) {
            if (n == 16) {
                return false;
            }
            unsigned char b = static_cast<unsigned char>(body[i]);
            if (body.substr(i).starts_with("\\0x")) {
                if (!ParseHexByte(body.substr(i + 3, 2), b)) {
                    return false;
                }
                i += 4;
            }
            entry.name[n++] = b;
        }
        entry.any_suffix = false;
        entry.exact = true;
        return n > 0;
    }
    std::string_view base = token;
    std::size_t hash = token.find('#');
    entry.any_suffix = hash == std::string_view::npos;
    if (!entry.any_suffix) {
        base = token.substr(0, hash);
        if (!ParseHexByte(token.substr(hash + 1), entry.name[15])) {
            return false;
        }
    }
    if (base.empty() || base.size() > 15) {
        return false;
    }
    for (std::size_t i = 0; i < base.size(); ++i) {
        entry.name[i] =
            static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(base[i])));
    }
    return true;
}

} // namespace

bool ParseIpv4(std::string_view text, std::uint32_t& out) {
    std::string s(text);
    in_addr a{};
    if (s.empty() || inet_pton(AF_INET, s.c_str(), &a) != 1) {
        return false;
    }
    out = ntohl(a.s_addr);
    return true;
}

std::string FormatIpv4(std::uint32_t address) {
    char text[INET_ADDRSTRLEN] = {};
    in_addr a{htonl(address)};
    inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

std::string DefaultRouteInterface(std::string_view table) {
    std::istringstream in{std::string(table)};
    std::string line;
    std::getline(in, line); // column headings
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string iface;
        std::string destination;
        std::string gateway;
        std::string flags;
        std::string refcnt;
        std::string use;
        std::string metric;
        std::string mask;
        if (fields >> iface >> destination >> gateway >> flags >> refcnt >> use >> metric >> mask &&
            destination == "00000000" && mask == "00000000") {
            return iface;
        }
    }
    return {};
}

Config ParseConfig(const EnvLookup& env, std::span<const Interface> interfaces,
                   std::string_view default_interface) {
    Config config;
    bool usable = true;
    auto problem = [&](const std::string& text) { config.problems.push_back(text); };

    if (const char* v = env("NETBIOS_NAME_PORT"); v != nullptr && !ParsePort(v, config.name_port)) {
        problem(std::string("NETBIOS_NAME_PORT=\"") + v + "\" is not a port number 1-65535");
        usable = false;
    }
    if (const char* v = env("NETBIOS_SESSION_PORT");
        v != nullptr && !ParsePort(v, config.session_port)) {
        problem(std::string("NETBIOS_SESSION_PORT=\"") + v + "\" is not a port number 1-65535");
        usable = false;
    }
    std::optional<std::uint32_t> broadcast;
    if (const char* v = env("NETBIOS_BROADCAST"); v != nullptr) {
        std::uint32_t b = 0;
        if (!ParseIpv4(Trim(v), b)) {
            problem(std::string("NETBIOS_BROADCAST=\"") + v + "\" is not an IPv4 address");
            usable = false;
        } else if (IsLimitedBroadcast(b)) {
            problem("NETBIOS_BROADCAST: the limited broadcast address is not used; give the "
                    "subnet's broadcast address");
            usable = false;
        } else {
            broadcast = b;
        }
    }
    if (const char* v = env("NETBIOS_LMHOSTS"); v != nullptr && *v != '\0') {
        config.lmhosts_path = v;
    }
    if (const char* v = env("NETBIOS_WINS"); v != nullptr && *v != '\0') {
        std::string_view text = Trim(v);
        NameServer ns;
        std::size_t colon = text.find(':');
        bool ok = ParseIpv4(text.substr(0, colon), ns.address);
        if (ok && colon != std::string_view::npos) {
            ok = ParsePort(text.substr(colon + 1), ns.port);
        }
        if (ok && (ns.address == 0 || IsLimitedBroadcast(ns.address))) {
            problem(std::string("NETBIOS_WINS=\"") + v + "\": a name server has a unicast address");
            usable = false;
        } else if (ok) {
            config.name_server = ns;
            config.node_type = NodeType::H;
        } else {
            problem(std::string("NETBIOS_WINS=\"") + v + "\" is not address[:port]");
            usable = false;
        }
    }
    if (const char* v = env("NETBIOS_NODE_TYPE"); v != nullptr && *v != '\0') {
        std::string_view text = Trim(v);
        if (text == "B" || text == "b") {
            config.node_type = NodeType::B;
        } else if (text == "P" || text == "p" || text == "H" || text == "h") {
            config.node_type = (text == "P" || text == "p") ? NodeType::P : NodeType::H;
            if (!config.name_server) {
                problem(std::string("NETBIOS_NODE_TYPE=") + v +
                        " needs a name server (NETBIOS_WINS)");
                usable = false;
            }
        } else {
            problem(std::string("NETBIOS_NODE_TYPE=\"") + v + "\" is not B, P or H");
            usable = false;
        }
    }

    // Bindings: the listed addresses, or the host's interfaces (default route first).
    struct Candidate {
        std::uint32_t address = 0;
        std::optional<unsigned> prefix;
        bool empty = false;
        bool bad = false;
    };
    std::vector<Candidate> candidates;
    if (const char* v = env("NETBIOS_LANAS"); v != nullptr) {
        std::string_view list = v;
        for (;;) {
            std::size_t comma = list.find(',');
            std::string_view item = Trim(list.substr(0, comma));
            Candidate c;
            if (item.empty()) {
                c.empty = true;
            } else {
                std::size_t slash = item.find('/');
                unsigned long prefix = 0;
                if (!ParseIpv4(item.substr(0, slash), c.address) ||
                    (slash != std::string_view::npos &&
                     !ParseNumber(item.substr(slash + 1), 32, prefix))) {
                    problem("NETBIOS_LANAS: LANA " + std::to_string(candidates.size()) + " \"" +
                            std::string(item) + "\" is not address[/prefix]");
                    c.bad = true;
                } else if (slash != std::string_view::npos) {
                    c.prefix = static_cast<unsigned>(prefix);
                }
            }
            candidates.push_back(c);
            if (comma == std::string_view::npos) {
                break;
            }
            list.remove_prefix(comma + 1);
        }
        if (candidates.size() > MAX_LANAS) {
            problem("NETBIOS_LANAS: only the first " + std::to_string(MAX_LANAS) +
                    " LANAs are used");
            candidates.resize(MAX_LANAS);
        }
    } else {
        std::vector<const Interface*> order;
        for (const Interface& i : interfaces) {
            if (i.up && !i.loopback) {
                order.push_back(&i);
            }
        }
        std::stable_sort(order.begin(), order.end(), [&](const Interface* a, const Interface* b) {
            bool da = a->name == default_interface;
            bool db = b->name == default_interface;
            if (da != db) {
                return da;
            }
            return a->index < b->index;
        });
        for (const Interface* i : order) {
            if (candidates.size() == MAX_LANAS) {
                break;
            }
            Candidate c;
            c.address = i->address;
            candidates.push_back(c);
        }
    }

    for (const Candidate& c : candidates) {
        Binding b;
        if (!c.empty && !c.bad && usable) {
            b.address = c.address;
            std::optional<std::uint32_t> mask;
            if (c.prefix) {
                mask = PrefixMask(*c.prefix);
            } else {
                for (const Interface& i : interfaces) {
                    if (i.address == c.address) {
                        mask = i.netmask;
                        break;
                    }
                }
                if (!mask && IsLoopback(c.address)) {
                    mask = PrefixMask(8);
                }
            }
            if (broadcast) {
                b.broadcast = *broadcast;
            } else if (mask) {
                b.broadcast = (c.address & *mask) | ~*mask;
            }
            if (!broadcast && !mask) {
                problem("LANA " + std::to_string(config.lanas.size()) + ": " +
                        FormatIpv4(c.address) +
                        " is no local interface address; give it as address/prefix");
            } else if (IsLimitedBroadcast(b.broadcast)) {
                problem("LANA " + std::to_string(config.lanas.size()) + ": " +
                        FormatIpv4(c.address) + " has no subnet broadcast address");
            } else {
                b.configured = true;
            }
        }
        config.lanas.push_back(b);
    }
    return config;
}

void ParseStaticTable(std::string_view text, std::vector<StaticEntry>& out,
                      std::vector<std::string>& problems) {
    int number = 0;
    while (!text.empty()) {
        std::size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        ++number;
        line = Trim(line);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        std::size_t space = line.find_first_of(" \t");
        if (space == std::string_view::npos) {
            problems.push_back("static name table line " + std::to_string(number) +
                               ": no name after the address");
            continue;
        }
        StaticEntry entry;
        std::string_view rest = Trim(line.substr(space));
        std::string_view token;
        if (rest.starts_with('"')) {
            std::size_t close = rest.find('"', 1);
            token = rest.substr(0, close == std::string_view::npos ? rest.size() : close + 1);
        } else {
            token = rest.substr(0, rest.find_first_of(" \t"));
        }
        if (!ParseIpv4(line.substr(0, space), entry.address) || !ParseStaticName(token, entry)) {
            problems.push_back("static name table line " + std::to_string(number) +
                               ": not \"address name\"");
            continue;
        }
        out.push_back(entry);
    }
}

bool StaticEntryMatches(const StaticEntry& entry, const Name& name) {
    if (entry.exact) {
        return entry.name == name;
    }
    if (!entry.any_suffix && entry.name[15] != name[15]) {
        return false;
    }
    for (std::size_t i = 0; i < 15; ++i) {
        // A bare entry is space padded; the names asked for may be padded with zeros instead.
        bool pad = entry.name[i] == 0x20;
        bool same = std::toupper(name[i]) == entry.name[i];
        if (!same && !(pad && name[i] == 0x00)) {
            return false;
        }
    }
    return true;
}

Config LoadConfig() {
    std::vector<Interface> interfaces;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) == 0) {
        for (ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
            if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET ||
                i->ifa_netmask == nullptr) {
                continue;
            }
            Interface it;
            it.name = i->ifa_name;
            it.index = if_nametoindex(i->ifa_name);
            it.address = ntohl(reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
            it.netmask = ntohl(reinterpret_cast<sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr);
            it.up = (i->ifa_flags & IFF_UP) != 0;
            it.loopback = (i->ifa_flags & IFF_LOOPBACK) != 0;
            interfaces.push_back(it);
        }
        freeifaddrs(list);
    }
    std::string routes;
    {
        std::ifstream in("/proc/net/route");
        std::ostringstream text;
        text << in.rdbuf();
        routes = text.str();
    }
    Config config = ParseConfig([](const char* n) { return std::getenv(n); }, interfaces,
                                DefaultRouteInterface(routes));
    if (!config.lmhosts_path.empty()) {
        std::ifstream in(config.lmhosts_path);
        if (!in) {
            config.problems.push_back("NETBIOS_LMHOSTS: cannot read " + config.lmhosts_path);
        } else {
            std::ostringstream text;
            text << in.rdbuf();
            ParseStaticTable(text.str(), config.static_names, config.problems);
        }
    }
    return config;
}

} // namespace nb
