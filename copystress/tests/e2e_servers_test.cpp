// vor32 reaching servers through the kit's own clients, with no mount: one run across an
// smb:// target, an nfs:// target and a local directory, and a server killed in the middle of
// a run. smbd and nfs-ganesha each run in a network namespace of their own; vor32 runs in
// smbd's, where a relay takes the NFS port through to ganesha's.
#include "nfs_server.h"
#include "smb_server.h"
#include "test_support.h"

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace vor32_test {
namespace {

constexpr std::uint16_t kNfsPort = 2049;

// Listens on 127.0.0.1:port in the network namespace of the process from and forwards every
// connection to 127.0.0.1:port in that of the process to (a thread's sockets stay in the
// namespace they were made in).
class Relay {
  public:
    Relay(pid_t from, pid_t to, std::uint16_t port) : port_(port) {
        thread_ = std::thread([this, from, to] { Serve(from, to); });
        while (!ready_) {
            std::this_thread::yield();
        }
    }
    ~Relay() {
        stop_ = true;
        thread_.join();
    }
    bool Listening() const { return listening_; }

  private:
    static bool Enter(pid_t pid) {
        const int ns = open(("/proc/" + std::to_string(pid) + "/ns/net").c_str(), O_RDONLY);
        const bool entered = ns >= 0 && setns(ns, CLONE_NEWNET) == 0;
        if (ns >= 0) {
            close(ns);
        }
        return entered;
    }
    sockaddr_in Address() const {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port_);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return address;
    }
    void Serve(pid_t from, pid_t to) {
        const bool entered = Enter(from); // before the listener is made
        const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in address = Address();
        int one = 1;
        setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        listening_ =
            entered && listener >= 0 &&
            bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
            listen(listener, 16) == 0 && Enter(to);
        ready_ = true;
        std::map<int, int> peer; // each end of a relayed connection and the other end
        while (listening_ && !stop_) {
            std::vector<pollfd> fds = {{listener, POLLIN, 0}};
            for (const auto& [fd, other] : peer) {
                fds.push_back({fd, POLLIN, 0});
            }
            if (poll(fds.data(), fds.size(), 100) <= 0) {
                continue;
            }
            if ((fds[0].revents & POLLIN) != 0) {
                const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
                const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                if (client >= 0 && server >= 0 &&
                    connect(server, reinterpret_cast<const sockaddr*>(&address), sizeof address) ==
                        0) {
                    peer[client] = server;
                    peer[server] = client;
                } else {
                    close(client);
                    close(server);
                }
            }
            for (std::size_t i = 1; i < fds.size(); ++i) {
                if (fds[i].revents == 0 || peer.count(fds[i].fd) == 0) {
                    continue;
                }
                char block[65536];
                const ssize_t n = read(fds[i].fd, block, sizeof block);
                const int other = peer[fds[i].fd];
                if (n <= 0 || write(other, block, static_cast<std::size_t>(n)) != n) {
                    peer.erase(fds[i].fd);
                    peer.erase(other);
                    close(fds[i].fd);
                    close(other);
                }
            }
        }
        for (const auto& [fd, other] : peer) {
            close(fd);
        }
        close(listener);
    }

    std::uint16_t port_;
    std::atomic<bool> ready_{false}, listening_{false}, stop_{false};
    std::thread thread_;
};

const std::string kSmbTarget = "smb://root@127.0.0.1/share/";
const std::string kNfsTarget = "nfs://127.0.0.1:2049/zeb/";

// Both servers, the relay between their namespaces and a local directory for a run.
class Servers : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string whyNot;
        if (smb = zebtest::SmbServer::Start(&whyNot); !smb) {
            GTEST_SKIP() << whyNot;
        }
        if (nfs = zebtest::NfsServer::Start(&whyNot); !nfs) {
            GTEST_SKIP() << whyNot;
        }
        relay = std::make_unique<Relay>(smb->ServerPids().front(), nfs->ServerPid(), kNfsPort);
        if (!relay->Listening()) {
            GTEST_SKIP() << "cannot relay the NFS port between the servers' namespaces";
        }
        local.Make({"local"});
        options.cwd = local.path();
        options.launcher = smb->Launcher();
        options.env = {"PASSWD=" + zebtest::SmbServer::Password()};
    }
    std::uint64_t ServerReads() const { return smb->ServerBytesRead() + nfs->ServerBytesRead(); }

    std::unique_ptr<zebtest::SmbServer> smb;
    std::unique_ptr<zebtest::NfsServer> nfs;
    std::unique_ptr<Relay> relay;
    TempDir local;
    SpawnOptions options;
};

TEST_F(Servers, RunAcrossThreeKindsOfTargetVerifiesWhatTheServersHold) {
    const std::uint64_t smbBefore = smb->ServerBytesRead();
    const std::uint64_t nfsBefore = nfs->ServerBytesRead();
    const std::vector<std::string> args = {
        "10000", "1000000", "30000", kSmbTarget, kNfsTarget, (local.path() / "local").string(),
        "/t",    "/v"};
    Outcome outcome = Vor32Process(args, options).Finish(300000);
    const std::uint64_t smbRead = smb->ServerBytesRead() - smbBefore;
    const std::uint64_t nfsRead = nfs->ServerBytesRead() - nfsBefore;
    const std::uint64_t serverRead = smbRead + nfsRead;
    // The run as a transcript, for a reader who wants to see one (VOR32_TRANSCRIPT=file).
    if (const char* transcript = std::getenv("VOR32_TRANSCRIPT")) {
        std::string text = "$ vor32";
        for (const std::string& arg : args) {
            text += " " + arg;
        }
        text += "\n" + outcome.output + "\nexit status " + std::to_string(outcome.code) +
                "\nsmbd read " + std::to_string(smbRead) + " bytes, nfs-ganesha read " +
                std::to_string(nfsRead) + " bytes during the run\n";
        WriteFile(transcript, text);
    }
    ASSERT_TRUE(ExitedWith(outcome, 0)) << outcome.output;
    EXPECT_NE(outcome.output.find("Checks at '" + kSmbTarget + "' read from its server (SMB"),
              std::string::npos);
    EXPECT_NE(outcome.output.find("Checks at '" + kNfsTarget + "' read from its server (NFS"),
              std::string::npos);
    // Every size from 10000 to 1000000 in steps of 30000, each copy read back; what was
    // checked at the servers they have read.
    const std::vector<Transfer> transfers = Transfers(outcome.output);
    ASSERT_EQ(transfers.size(), 33u) << outcome.output;
    std::uint64_t verifiedRemote = 0;
    for (const Transfer& transfer : transfers) {
        if (transfer.destination.starts_with("smb://") ||
            transfer.destination.starts_with("nfs://")) {
            verifiedRemote += static_cast<std::uint64_t>(transfer.size) - 30000;
        }
    }
    RecordProperty("bytesVerifiedAtServers", std::to_string(verifiedRemote));
    RecordProperty("serverBytesRead", std::to_string(serverRead));
    EXPECT_GE(serverRead, verifiedRemote);
    for (const fs::path& copy :
         {smb->BackingDirectory() / kDataName, nfs->ExportDirectory() / kDataName,
          local.path() / "local" / kDataName}) {
        const std::string bytes = ReadFile(copy);
        EXPECT_EQ(bytes, Cells(static_cast<std::uint32_t>(bytes.size()))) << copy;
        EXPECT_FALSE(bytes.empty()) << copy;
    }
}

struct KillRow {
    std::string name;
    bool killSmb; // else the NFS server
};

class ServerKilled : public Servers, public ::testing::WithParamInterface<KillRow> {};

// The run ends within a bound of the kill with one of the copy's failure texts and exit 1; the
// log (local, /v) holds every line up to the failure, whole.
TEST_P(ServerKilled, EndsTheRunWithAFailure) {
    if (IsSkipped()) {
        return;
    }
    // Without /t the run goes on until the server is gone.
    Vor32Process run({"4000000", "8000000", "4000000", kSmbTarget, kNfsTarget, "/v"}, options);
    ASSERT_TRUE(run.ReadUntil("\n#002 ", 60000)) << run.Output() << run.Errors();
    GetParam().killSmb ? smb->Kill() : nfs->Kill();
    const auto killed = std::chrono::steady_clock::now();
    Outcome outcome = run.Finish(60000);
    const auto took = std::chrono::steady_clock::now() - killed;
    EXPECT_TRUE(ExitedWith(outcome, 1)) << outcome.output;
    EXPECT_LT(took, std::chrono::seconds(30));
    bool failed = false;
    for (const char* text : {"Unable to open '", "dwBytesWritten (", "Unable to read '",
                             "Actual file size (", "ReadFile returns FALSE"}) {
        failed = failed || outcome.output.find(text) != std::string::npos;
    }
    EXPECT_TRUE(failed) << outcome.output;
    EXPECT_EQ(outcome.output.find("Corruption"), std::string::npos) << outcome.output;
    const std::string log = ReadFile(local.path() / "VOR32.LOG");
    EXPECT_TRUE(log.ends_with("\r\n")) << log;
}

INSTANTIATE_TEST_SUITE_P(MidRun, ServerKilled,
                         ::testing::Values(KillRow{"Smb", true}, KillRow{"Nfs", false}),
                         [](const auto& info) { return info.param.name; });

} // namespace
} // namespace vor32_test
