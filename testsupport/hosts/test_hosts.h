// Hosts of a test LAN, for the tests of running clients across hosts: each host a network
// namespace joined by veth to a bridge (in a namespace of its own, the LAN's switch), with an
// address of the private subnet below, no route beyond it, a host name of its own (a UTS
// namespace), a work directory of its own at the same path on every host (a mount
// namespace) and a TMPDIR of its own, and its own sshd on port 22 that takes root's login by a
// key the fixture made, and no password. An ssh client configuration (SshConfig()) names the hosts,
// holds their host keys and reaches them from this process through the switch's namespace,
// so that `ssh -F SshConfig() hostA true` works here, on each host and for mpirun and Ansible
// alike. The hosts share the file system otherwise: they run the same programs. Everything
// goes at the end: the processes, the namespaces and their links, the files.
#ifndef ZEBTEST_HOSTS_TEST_HOSTS_H
#define ZEBTEST_HOSTS_TEST_HOSTS_H

#include "files.h"
#include "netns.h"
#include "process.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace zebtest {

class TestHosts {
  public:
    // The LAN's subnet (each LAN has a switch of its own, so tests that run at once do not
    // meet) and its hosts' addresses: the first host .1, the next .2, ...
    static std::string Subnet(); // 10.231.7.0/24
    static std::string AddressOf(int host);
    // The address of another namespace on the LAN, a server (.100 + k), and its port on the
    // switch, for SmbServerOptions::lan.
    static std::string ServerAddress(int k);
    BridgePort ServerPort(int k) const;

    // count hosts, named hostA, hostB, ...; nullptr with the reason in *whyNot where this
    // machine cannot (not root, no namespaces, a program missing) or a host did not come up.
    static std::unique_ptr<TestHosts> Start(std::string* whyNot, int count = 2);
    ~TestHosts();
    TestHosts(const TestHosts&) = delete;
    TestHosts& operator=(const TestHosts&) = delete;

    int Count() const { return static_cast<int>(names_.size()); }
    const std::string& Name(int host) const { return names_.at(static_cast<std::size_t>(host)); }
    const std::string& SwitchNamespace() const { return switch_; }
    // The ssh client configuration: `ssh -F SshConfig() NAME` reaches host NAME.
    const std::filesystem::path& SshConfig() const { return sshConfig_; }
    // The path of every host's own work directory, as each host sees it.
    const std::filesystem::path& WorkPath() const { return workPath_; }
    // Where host's work directory is, seen from this process.
    std::filesystem::path WorkOf(int host) const;
    // A directory of the fixture's (seen alike by every host), removed at the end.
    const std::filesystem::path& Directory() const { return dir_.path(); }

    // Runs command with the shell of host through ssh.
    Outcome Run(int host, const std::string& command, int timeoutMs = 30000) const;

  private:
    TestHosts() = default;
    bool Begin(std::string* whyNot, int count);
    bool StartSshd(std::string* whyNot, int host);
    void End();

    // Under /run, not /tmp: sshd's StrictModes refuses keys below a directory that others
    // can write to, as /tmp is.
    TempDir dir_{"zebhosts", "/run"};
    std::filesystem::path sshConfig_;
    std::filesystem::path workPath_;
    std::string switch_;
    std::vector<std::string> names_;
    std::vector<std::string> namespaces_;
    Namespaces created_;
    std::vector<std::unique_ptr<Process>> sshd_;
};

} // namespace zebtest

#endif
