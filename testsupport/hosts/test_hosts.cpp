#include "test_hosts.h"

#include <atomic>
#include <csignal>

#include <sys/stat.h>
#include <unistd.h>

namespace zebtest {

namespace fs = std::filesystem;

namespace {

constexpr const char* kBridge = "br0";
constexpr const char* kAddressPrefix = "10.231.7."; // the LAN's addresses
constexpr const char* kPrefixLength = "/24";
constexpr int kSwitchHost = 254; // where the ssh client's nc starts
constexpr int kMaxHosts = 26;
constexpr int kUpMs = 15000;

bool WriteText(const fs::path& path, const std::string& text, mode_t mode) {
    WriteFile(path, text);
    return ReadFile(path) == text && chmod(path.c_str(), mode) == 0;
}

// Makes an ed25519 key pair without a passphrase at path (and path.pub); "" or why not.
std::string MakeKey(const fs::path& path) {
    Outcome made =
        Run({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-C", "zebtest", "-f", path.string()},
            JoinedOutput(), 20000);
    return made.exited && made.code == 0 ? "" : "ssh-keygen failed: " + made.output;
}

// "type key" of a public key file, without its comment.
std::string PublicKey(const fs::path& path) {
    const std::vector<std::string> words = Words(ReadFile(path));
    return words.size() >= 2 ? words[0] + " " + words[1] : "";
}

} // namespace

std::string TestHosts::Subnet() {
    return kAddressPrefix + std::string("0") + kPrefixLength;
}

std::string TestHosts::AddressOf(int host) {
    return kAddressPrefix + std::to_string(host + 1);
}

std::string TestHosts::ServerAddress(int k) {
    return kAddressPrefix + std::to_string(100 + k);
}

BridgePort TestHosts::ServerPort(int k) const {
    return {switch_, kBridge, ServerAddress(k) + kPrefixLength};
}

std::unique_ptr<TestHosts> TestHosts::Start(std::string* whyNot, int count) {
    if (std::string why = NamespacesUnavailable(); !why.empty()) {
        *whyNot = why;
        return nullptr;
    }
    if (count < 1 || count > kMaxHosts) {
        *whyNot = "between 1 and " + std::to_string(kMaxHosts) + " hosts";
        return nullptr;
    }
    for (const char* program : {"sshd", "ssh", "ssh-keygen", "nc", "unshare", "hostname"}) {
        if (FindProgram(program).empty()) {
            *whyNot = std::string(program) + " is not installed (scripts/deps.sh)";
            return nullptr;
        }
    }
    std::unique_ptr<TestHosts> hosts(new TestHosts());
    if (!hosts->Begin(whyNot, count)) {
        return nullptr; // the destructor took down what had come up
    }
    return hosts;
}

bool TestHosts::Begin(std::string* whyNot, int count) {
    static std::atomic<int> serial{0};
    const std::string n = std::to_string(serial++);
    const fs::path& d = dir_.path();
    switch_ = Unique("zebsw") + "-" + n;
    sshConfig_ = d / "ssh_config";
    workPath_ = d / "work";
    dir_.Make({"work"});
    if (std::string why = MakeKey(d / "client_key"); !why.empty()) {
        *whyNot = why;
        return false;
    }
    std::string knownHosts;
    std::string config;
    std::string setup = "ip -n " + switch_ + " link add " + kBridge + " type bridge && ip -n " +
                        switch_ + " addr add " + kAddressPrefix + std::to_string(kSwitchHost) +
                        kPrefixLength + " dev " + kBridge + " && ip -n " + switch_ + " link set " +
                        kBridge + " up";
    std::vector<std::string> all = {switch_};
    for (int i = 0; i < count; ++i) {
        const std::string name = std::string("host") + static_cast<char>('A' + i);
        const fs::path home = d / name;
        names_.push_back(name);
        namespaces_.push_back(Unique("zebh") + "-");
        namespaces_.back() += n + name;
        all.push_back(namespaces_.back());
        dir_.Make({name + "/work", name + "/tmp"});
        if (std::string why = MakeKey(home / "host_key"); !why.empty()) {
            *whyNot = why;
            return false;
        }
        knownHosts += name + "," + AddressOf(i) + " " + PublicKey(home / "host_key.pub") + "\n";
        config += "Host " + name + "\n  HostName " + AddressOf(i) + "\n";
        const std::string sshd =
            "Port 22\nListenAddress 0.0.0.0\nHostKey " + (home / "host_key").string() +
            "\nPidFile none\nAuthorizedKeysFile " + (d / "authorized_keys").string() +
            "\nPermitRootLogin prohibit-password\nPubkeyAuthentication yes\n"
            "PasswordAuthentication no\nKbdInteractiveAuthentication no\nUsePAM no\n"
            "StrictModes yes\nX11Forwarding no\nPrintMotd no\n"
            "Subsystem sftp internal-sftp\n"
            // The host's own temporary directory (Open MPI keeps its session files there,
            // which a job killed at its limit leaves behind); /tmp itself stays the machine's,
            // where the kit under test may be.
            "SetEnv TMPDIR=" +
            (home / "tmp").string() + "\n";
        if (!WriteText(home / "sshd_config", sshd, 0600)) {
            *whyNot = "cannot write " + (home / "sshd_config").string();
            return false;
        }
        setup += " && " + JoinBridgeCommand(namespaces_.back(),
                                            {switch_, kBridge, AddressOf(i) + kPrefixLength},
                                            Unique("vzh") + n + static_cast<char>('a' + i));
    }
    config += "Host *\n  User root\n  IdentityFile " + (d / "client_key").string() +
              "\n  IdentitiesOnly yes\n  UserKnownHostsFile " + (d / "known_hosts").string() +
              "\n  GlobalKnownHostsFile /dev/null\n  StrictHostKeyChecking yes\n"
              "  BatchMode yes\n  ConnectTimeout 10\n  ControlMaster no\n  LogLevel ERROR\n"
              "  ProxyCommand " +
              FindProgram("ip") + " netns exec " + switch_ + " " + FindProgram("nc") + " %h %p\n";
    if (!WriteText(d / "authorized_keys", ReadFile(d / "client_key.pub"), 0600) ||
        !WriteText(d / "known_hosts", knownHosts, 0644) || !WriteText(sshConfig_, config, 0644)) {
        *whyNot = "cannot write the ssh files in " + d.string();
        return false;
    }
    // sshd's privilege separation directory; the package makes it only at boot.
    std::error_code ec;
    fs::create_directories("/run/sshd", ec);
    if (*whyNot = created_.Create(all, setup); !whyNot->empty()) {
        return false;
    }
    for (int i = 0; i < count; ++i) {
        if (!StartSshd(whyNot, i)) {
            return false;
        }
    }
    return true;
}

bool TestHosts::StartSshd(std::string* whyNot, int host) {
    const std::string& name = Name(host);
    const fs::path home = Directory() / name;
    // The host's own name and work directory, then sshd in the foreground: every session and
    // every program started from it stays in the host's namespaces. A session of its own, as
    // sshd signals its process group.
    ProcessOptions daemon;
    daemon.newSession = true;
    daemon.outputFile = home / "sshd.log";
    daemon.errorsToOutput = true;
    const std::string script =
        "mount --bind \"$1\" \"$2\" && hostname \"$3\" && exec \"$4\" -D -e -f \"$5\"";
    sshd_.push_back(std::make_unique<Process>(
        std::vector<std::string>{"ip", "netns", "exec",
                                 namespaces_.at(static_cast<std::size_t>(host)), "unshare", "--uts",
                                 "--mount", "--propagation", "private", "sh", "-c", script, "sh",
                                 WorkOf(host).string(), workPath_.string(), name,
                                 FindProgram("sshd"), (home / "sshd_config").string()},
        daemon));
    if (!WaitForListener(namespaces_.at(static_cast<std::size_t>(host)), "-ltn 'sport = :22'",
                         "0.0.0.0:22", kUpMs)) {
        *whyNot = "sshd did not listen on " + name + ": " + ReadFile(home / "sshd.log");
        return false;
    }
    Outcome last;
    if (!WaitUntil(
            [&] {
                last = Run(host, "test \"$(hostname)\" = " + name, 10000);
                return last.exited && last.code == 0;
            },
            kUpMs, 200)) {
        *whyNot = "ssh to " + name + " failed: " + last.output + ReadFile(home / "sshd.log");
        return false;
    }
    return true;
}

fs::path TestHosts::WorkOf(int host) const {
    return Directory() / Name(host) / "work";
}

Outcome TestHosts::Run(int host, const std::string& command, int timeoutMs) const {
    return zebtest::Run({"ssh", "-F", sshConfig_.string(), Name(host), command}, JoinedOutput(),
                        timeoutMs);
}

TestHosts::~TestHosts() {
    End();
}

void TestHosts::End() {
    for (std::unique_ptr<Process>& sshd : sshd_) {
        sshd->Signal(SIGTERM);
        sshd->Finish(5000);
    }
    sshd_.clear();
    // What the sessions left (mpirun's daemons, say) goes with the namespaces.
    created_.Remove();
}

} // namespace zebtest
