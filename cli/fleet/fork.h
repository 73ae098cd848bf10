// Clients on one host as processes: each forked before the parent touches the engine, a
// server's client or a thread, in a process group of its own, its output read by the parent
// line by line; the parent is their release (release.h) over pipes. Every wait for a client
// is bounded: one that goes longer than the bound without preparing or ending a pass, or
// that the parent cannot read, is killed with its process group and reported.
#ifndef ZEBCLI_FLEET_FORK_H
#define ZEBCLI_FLEET_FORK_H

#include "fleet/release.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zebcli::fleet {

// How a forked client ended.
struct ClientEnd {
    std::uint32_t client = 0; // 1, 2, ...
    bool exited = false;      // by itself, with status
    int status = -1;
    int signal = 0; // the signal that ended it, when it did not exit
    // Why the parent ended it or holds it failed without its results: "no word within 300 s
    // (preparing pass 1)", ...; empty when it ended by itself.
    std::string ended;
    std::size_t passesReleased = 0;
    bool stopped = false; // told to stop at a release (--stop-on-failure)
};

struct ForkSettings {
    std::uint32_t clients = 1;
    std::chrono::milliseconds bound{300'000};
    bool stopOnFailure = false;
    // Each line a client prints, with its number (called in the parent).
    std::function<void(std::uint32_t client, const std::string& line)> line;
};

// Runs settings.clients clients: client(n, release) in each forked process (its return is the
// process's exit status; it must not return into the caller's code), the parent releasing
// them. Returns when every client has ended, with how each did, in client order.
std::vector<ClientEnd> RunForked(const ForkSettings& settings,
                                 const std::function<int(std::uint32_t, Release&)>& client);

// Forwards SIGINT to the clients' process groups while RunForked runs (installed by it), and
// whether one came.
void ForwardInterrupts();
bool Interrupted();

} // namespace zebcli::fleet

#endif
