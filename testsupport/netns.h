// The host side of tests that need more than a process: a shell, private mounts, network
// namespaces joined by veth links (no default route, only the addresses the test chose) and
// free loopback ports. Whatever needs root says why it cannot run here, for a skip message.
#ifndef ZEB_TESTSUPPORT_NETNS_H
#define ZEB_TESTSUPPORT_NETNS_H

#include <cstdint>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace zebtest {

struct ShellOutput {
    int status = -1;
    std::string text; // standard output and error
};
// Runs a command with /bin/sh.
ShellOutput Shell(const std::string& command);

// Asks ready every stepMs until it says yes; false when it has not by timeoutMs.
bool WaitUntil(const std::function<bool()>& ready, int timeoutMs, int stepMs = 50);
// Waits until `ss -H ssArgs` in namespace ns shows wanted (a listening socket's address, say).
bool WaitForListener(const std::string& ns, const std::string& ssArgs, const std::string& wanted,
                     int timeoutMs);

// An executable of that name on the PATH, or in /usr/sbin and /sbin (which a user's PATH may
// lack); "" when there is none.
std::string FindProgram(const std::string& name);

// Why this process cannot keep mounts to itself ("" when it can): a mount namespace of its own
// whose root is no longer shared with the host's. Tried in a child, so nothing changes here;
// it fails in a chroot, where "/" is no mount point.
std::string MountNamespaceUnavailable();
// Makes every mount from here on stay in a mount namespace of this process's own; "" when
// done, else why not.
std::string PrivateMounts();
// Mounts a tmpfs at path (options such as "size=64k", flags such as MS_RDONLY) in this
// process's private mount namespace; "" when done, else why not.
std::string MountTmpfs(const std::filesystem::path& path, const std::string& options,
                       unsigned long flags = 0);
// Why network namespaces cannot be made and entered here ("" when they can): root, iproute2
// and a private mount namespace, which `ip netns exec` makes for every command it runs.
std::string NamespacesUnavailable();

// Network namespaces of the test's own, removed (with every process in them) at the end.
class Namespaces {
  public:
    Namespaces() = default;
    ~Namespaces() { Remove(); }
    Namespaces(const Namespaces&) = delete;
    Namespaces& operator=(const Namespaces&) = delete;
    // Adds the namespaces, each with its loopback up, then runs setup; "" on success, else
    // what went wrong (nothing is left behind then).
    std::string Create(const std::vector<std::string>& names, const std::string& setup = "");
    void Remove();

  private:
    std::vector<std::string> names_;
};

// A port on a bridge that lives in a namespace of its own (a LAN's switch): a namespace
// joined there gets a veth link with this address.
struct BridgePort {
    std::string switchNamespace;
    std::string bridge;
    std::string address; // with its prefix length, 10.231.0.9/24
};
// The shell commands that join namespace ns to the bridge: a veth pair named link (at most
// 15 characters) and link + "p", its end in ns called eth0 with the port's address and up, the
// other end on the bridge. Nothing else: no route beyond the subnet.
std::string JoinBridgeCommand(const std::string& ns, const BridgePort& port,
                              const std::string& link);

// The command prefix that runs a program in namespace ns.
std::vector<std::string> InNamespace(const std::string& ns);
// A name unique to this test process: prefix and its process id.
std::string Unique(const std::string& prefix);

// Two hosts in two network namespaces joined by a veth link of their own: 192.0.2.1/24 in the
// first, 192.0.2.2/24 in the second, no route beyond the link.
class VethHosts {
  public:
    // Creates both, named with tag and this process's id; "" on success, else why not.
    std::string Create(const std::string& tag);
    const std::string& A() const { return a_; }
    const std::string& B() const { return b_; }
    const std::string& LinkB() const { return linkB_; } // the second host's end of the link

  private:
    std::string a_;
    std::string b_;
    std::string linkB_;
    Namespaces namespaces_;
};

// A test on VethHosts, skipped with the reason where they cannot be made.
class VethHostsTest : public ::testing::Test {
  protected:
    void SetUp() override;

    VethHosts hosts_;
    std::string a_; // the first host's namespace, 192.0.2.1
    std::string b_; // the second's, 192.0.2.2
};

// A name port P and session port P+1 free on 127.0.0.2, 127.0.0.3 and the loopback
// broadcast address: a test LAN of its own.
std::uint16_t FreePortPair();

} // namespace zebtest

#endif
