// One client of several on one host: its number, its own test file, its own directory (its
// working directory and WINDIR, where its report.txt, compatibility log and results go), its
// seed offset, and the options it runs with.
#ifndef ZEBCLI_FLEET_CLIENT_H
#define ZEBCLI_FLEET_CLIENT_H

#include "options.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zebcli::fleet {

// The most clients at once, the most numbers of --clients, and the longest bound of a client.
inline constexpr std::uint32_t kMaxClients = 128;
inline constexpr std::size_t kMaxLoadPoints = 16;
inline constexpr double kMaxClientTimeoutSeconds = 86400;

// What a client's number replaces in the test file's path or URL.
inline constexpr char kClientMark[] = "{client}";
// Each client's results in its directory, and the folder of its compatibility log there.
inline constexpr char kClientResults[] = "results.json";
inline constexpr char kCompatLogFolder[] = "ctlogs";

// The test file of client (1, 2, ...): every {client} in path replaced by its number; without
// one, the number before the file name's extension (T.TST: T3.TST), or after a name that has
// none.
std::string ClientPath(std::string_view path, std::uint32_t client);

// Why the clients' test files cannot be made from path for these counts (a path too long for
// the engine once numbered); empty when they can.
std::string ClientPathRefusal(std::string_view path, const std::vector<std::uint32_t>& counts);

// The directory of client under base: base/client-N.
std::string ClientDirectory(const std::string& base, std::uint32_t client);

// Added to the engine's seed of the random patterns for client: far apart for neighbours, so
// that clients whose passes begin a second apart do not draw the same offsets either.
std::uint32_t SeedOffset(std::uint32_t client);

// The options client runs with: its own test file (a relative local one made absolute from
// the current directory, which the client leaves), its results file in directory, and no
// results of the whole run (the parent writes those).
Options ClientOptions(const Options& run, std::uint32_t client, const std::string& directory);

// Makes directory (its parent, and its ctlogs/ for the compatibility log) if missing, removes
// the results a client left there before, so that none is taken for this run's; empty, or
// what failed.
std::string PrepareClientDirectory(const std::string& directory);

// In the client's process: goes into its directory and points WINDIR at it; empty, or what
// failed.
std::string EnterClientDirectory(const std::string& directory);

} // namespace zebcli::fleet

#endif
