// The provider's settings: which local IPv4 address each LANA binds, the broadcast address,
// the name and session ports, an optional static name table (LMHOSTS format) and an optional
// name server. They come from the environment (NETBIOS_*), so a test LAN can be set up
// without recompiling; anything that does not parse is reported and never replaced by a
// guess that would reach the real network.
#ifndef ZEB_NETBIOS_NBCONFIG_H
#define ZEB_NETBIOS_NBCONFIG_H

#include "nbcodec.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace nb {

constexpr std::uint16_t DEFAULT_NAME_PORT = 137;
constexpr std::uint16_t DEFAULT_SESSION_PORT = 139;
// LANA numbers the provider can bind (the engine probes 0 to 32).
constexpr std::size_t MAX_LANAS = 33;

struct Binding {
    bool configured = false;   // false: nothing behind this LANA number
    std::uint32_t address = 0; // host byte order
    std::uint32_t broadcast = 0;
};

struct StaticEntry {
    Name name{};
    bool any_suffix = false; // a bare name: matches whatever its 16th byte is
    bool exact = false;      // a quoted name: all 16 bytes as given
    std::uint32_t address = 0;
};

// How names are registered and found (RFC 1001 10): B by broadcast only, P through the name
// server only (no broadcasts at all), H through the name server first, then by broadcast.
enum class NodeType { B, P, H };

struct NameServer {
    std::uint32_t address = 0;
    std::uint16_t port = DEFAULT_NAME_PORT;
};

struct Config {
    std::vector<Binding> lanas;
    std::uint16_t name_port = DEFAULT_NAME_PORT;
    std::uint16_t session_port = DEFAULT_SESSION_PORT;
    std::string lmhosts_path;
    std::vector<StaticEntry> static_names;
    std::optional<NameServer> name_server;
    NodeType node_type = NodeType::B;  // H when a name server is given, unless set otherwise
    std::vector<std::string> problems; // one line each, for standard error
};

// A local IPv4 interface address, as getifaddrs reports it.
struct Interface {
    std::string name;
    unsigned index = 0;
    std::uint32_t address = 0;
    std::uint32_t netmask = 0;
    bool up = false;
    bool loopback = false;
};

using EnvLookup = std::function<const char*(const char*)>;

// Builds the settings from the variables and the host's interfaces. default_interface names
// the interface of the default route ("" when there is none). The static table file is not
// read here (see LoadStaticTable).
Config ParseConfig(const EnvLookup& env, std::span<const Interface> interfaces,
                   std::string_view default_interface);

// The interface of the default route in the text of /proc/net/route, or "".
std::string DefaultRouteInterface(std::string_view table);

// Parses LMHOSTS text ("address name" per line, '#' comments; quoted names give all 16
// bytes with \0xNN escapes; NAME#xx fixes the 16th byte). Bad lines are reported and skipped.
void ParseStaticTable(std::string_view text, std::vector<StaticEntry>& out,
                      std::vector<std::string>& problems);
bool StaticEntryMatches(const StaticEntry& entry, const Name& name);

bool ParseIpv4(std::string_view text, std::uint32_t& out);
std::string FormatIpv4(std::uint32_t address);

// The whole configuration of this process: environment, interfaces, static table file.
Config LoadConfig();

} // namespace nb

#endif
