// Shell, mounts, namespaces and ports for tests.
#include "netns.h"

#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <netinet/in.h>
#include <random>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace zebtest {

ShellOutput Shell(const std::string& command) {
    ShellOutput out;
    FILE* p = popen(("{ " + command + "\n} 2>&1").c_str(), "r");
    if (p == nullptr) {
        return out;
    }
    std::array<char, 4096> buf;
    std::size_t n = 0;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) {
        out.text.append(buf.data(), n);
    }
    out.status = pclose(p);
    return out;
}

bool WaitUntil(const std::function<bool()>& ready, int timeoutMs, int stepMs) {
    for (int waited = 0; waited < timeoutMs; waited += stepMs) {
        if (ready()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(stepMs));
    }
    return ready();
}

bool WaitForListener(const std::string& ns, const std::string& ssArgs, const std::string& wanted,
                     int timeoutMs) {
    return WaitUntil(
        [&] {
            return Shell("ip netns exec " + ns + " ss -H " + ssArgs).text.find(wanted) !=
                   std::string::npos;
        },
        timeoutMs, 100);
}

std::string FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(std::string(path != nullptr ? path : "") + ":/usr/sbin:/sbin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const std::string candidate = dir + "/" + name;
        std::error_code ec;
        if (!dir.empty() && std::filesystem::is_regular_file(candidate, ec) &&
            access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return "";
}

std::string MountNamespaceUnavailable() {
    // What `ip netns exec` does before each command, and what private mounts need.
    pid_t pid = fork();
    if (pid == 0) {
        if (unshare(CLONE_NEWNS) != 0) {
            _exit(1);
        }
        _exit(mount(nullptr, "/", nullptr, MS_REC | MS_SLAVE, nullptr) == 0 ? 0 : 2);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return "cannot try a mount namespace here";
    }
    switch (WEXITSTATUS(status)) {
    case 0:
        return "";
    case 1:
        return "no mount namespace of the test's own here (needs root)";
    default:
        return "no private mount namespace here: \"/\" cannot be made a slave mount (in a "
               "chroot?)";
    }
}

std::string PrivateMounts() {
    static std::string why = [] {
        std::string unavailable = MountNamespaceUnavailable();
        if (!unavailable.empty()) {
            return unavailable;
        }
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            return "no private mount namespace here: " + std::string(std::strerror(errno));
        }
        return std::string();
    }();
    return why;
}

std::string MountTmpfs(const std::filesystem::path& path, const std::string& options,
                       unsigned long flags) {
    if (std::string why = PrivateMounts(); !why.empty()) {
        return why;
    }
    if (mount("tmpfs", path.c_str(), "tmpfs", flags, options.c_str()) != 0) {
        return "cannot mount a small tmpfs here (needs root): " + std::string(std::strerror(errno));
    }
    return "";
}

std::string NamespacesUnavailable() {
    if (geteuid() != 0 || FindProgram("ip").empty()) {
        return "network namespaces need root and iproute2; skipped";
    }
    if (std::string why = MountNamespaceUnavailable(); !why.empty()) {
        return why + "; `ip netns exec` cannot run, skipped";
    }
    return "";
}

std::string Namespaces::Create(const std::vector<std::string>& names, const std::string& setup) {
    Remove();
    std::string command;
    for (const std::string& ns : names) {
        command += (command.empty() ? "" : " && ") +
                   ("ip netns add " + ns + " && ip -n " + ns + " link set lo up");
    }
    names_ = names;
    ShellOutput r = Shell(command + (setup.empty() ? "" : " && " + setup));
    if (r.status != 0) {
        Remove();
        return "cannot set up the network namespaces: " + r.text;
    }
    return "";
}

void Namespaces::Remove() {
    for (const std::string& ns : names_) {
        Shell("ip netns pids " + ns + " | xargs -r kill -KILL; ip netns del " + ns);
    }
    names_.clear();
}

std::string JoinBridgeCommand(const std::string& ns, const BridgePort& port,
                              const std::string& link) {
    const std::string peer = link + "p";
    return "ip link add " + link + " netns " + ns + " type veth peer name " + peer + " netns " +
           port.switchNamespace + " && ip -n " + ns + " link set " + link + " name eth0 && ip -n " +
           ns + " addr add " + port.address + " dev eth0 && ip -n " + ns +
           " link set eth0 up && ip -n " + port.switchNamespace + " link set " + peer + " master " +
           port.bridge + " up";
}

std::vector<std::string> InNamespace(const std::string& ns) {
    return {"ip", "netns", "exec", ns};
}

std::string Unique(const std::string& prefix) {
    return prefix + std::to_string(getpid() % 100000);
}

void VethHostsTest::SetUp() {
    if (std::string why = NamespacesUnavailable(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    if (std::string why = hosts_.Create("v"); !why.empty()) {
        GTEST_SKIP() << why;
    }
    a_ = hosts_.A();
    b_ = hosts_.B();
}

std::string VethHosts::Create(const std::string& tag) {
    a_ = Unique("zeb_" + tag + "a_");
    b_ = Unique("zeb_" + tag + "b_");
    const std::string linkA = Unique("vz" + tag + "a");
    linkB_ = Unique("vz" + tag + "b");
    return namespaces_.Create(
        {a_, b_}, "ip link add " + linkA + " netns " + a_ + " type veth peer name " + linkB_ +
                      " netns " + b_ + " && ip -n " + a_ + " addr add 192.0.2.1/24 brd + dev " +
                      linkA + " && ip -n " + b_ + " addr add 192.0.2.2/24 brd + dev " + linkB_ +
                      " && ip -n " + a_ + " link set " + linkA + " up && ip -n " + b_ +
                      " link set " + linkB_ + " up");
}

namespace {

bool CanBind(int type, const char* address, std::uint16_t port) {
    int fd = socket(AF_INET, type, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    inet_pton(AF_INET, address, &sa.sin_addr);
    bool ok = bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    close(fd);
    return ok;
}

} // namespace

std::uint16_t FreePortPair() {
    std::mt19937 random(std::random_device{}());
    for (int i = 0; i < 200; ++i) {
        auto port = static_cast<std::uint16_t>(10000 + 2 * (random() % 20000));
        auto session = static_cast<std::uint16_t>(port + 1);
        if (CanBind(SOCK_DGRAM, "127.255.255.255", port) &&
            CanBind(SOCK_DGRAM, "127.0.0.2", port) && CanBind(SOCK_DGRAM, "127.0.0.3", port) &&
            CanBind(SOCK_STREAM, "127.0.0.2", session) &&
            CanBind(SOCK_STREAM, "127.0.0.3", session)) {
            return port;
        }
    }
    return 0;
}

} // namespace zebtest
