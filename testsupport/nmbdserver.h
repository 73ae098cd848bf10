// Samba's nmbd as a NetBIOS name server (WINS) for tests, always inside a network namespace
// the test made: its configuration, lock, state, cache, pid, socket and log directories are
// in a temporary directory of its own, it serves only the interfaces it is given (bind
// interfaces only), takes no part in browsing, and is stopped with the test.
#ifndef ZEB_TESTSUPPORT_NMBDSERVER_H
#define ZEB_TESTSUPPORT_NMBDSERVER_H

#include "files.h"
#include "process.h"

#include <memory>
#include <string>
#include <vector>

namespace zebtest {

// Why name server tests cannot run here ("" when they can): nmbd, nmblookup and network
// namespaces (see NamespacesUnavailable) are needed.
std::string NmbdUnavailable();

class NmbdServer {
  public:
    NmbdServer() = default;
    ~NmbdServer();
    NmbdServer(const NmbdServer&) = delete;
    NmbdServer& operator=(const NmbdServer&) = delete;

    // Starts nmbd in namespace ns serving the interfaces ("127.0.0.9/8", "192.0.2.1/24"; the
    // first is the address it is asked at) and waits until it listens there. "" on success,
    // else what went wrong.
    std::string Start(const std::string& ns, const std::vector<std::string>& interfaces);
    void Stop();

    // nmblookup asking the server for name, from inside the namespace.
    std::string Lookup(const std::string& name) const;
    // nmblookup with these arguments, from inside the namespace.
    std::string Nmblookup(const std::string& args) const;
    // The end of nmbd's log, for failure messages.
    std::string Log() const;
    const std::string& Address() const { return address_; }

  private:
    std::string ns_;
    std::unique_ptr<TempDir> dir_;
    std::string conf_;
    std::string address_;
    std::unique_ptr<Process> nmbd_;
};

// Whether a lookup found name at address.
bool LookupFinds(const std::string& lookup, const std::string& address, const std::string& name);

} // namespace zebtest

#endif
