#include "nfs_server.h"

#include "files.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

#include <fcntl.h>
#include <nfsc/libnfs-raw-nfs4.h>
#include <nfsc/libnfs.h>
#include <sched.h>
#include <unistd.h>

namespace zebtest {

namespace fs = std::filesystem;

namespace {

constexpr const char* kPseudoPath = "/zeb";

// NFSv4 only (no portmapper, lock manager or quota service in the namespace), no grace period
// at a start or restart (the recovery state of the clients before it is not waited for), and
// no Bind_addr: with only loopback up, the server binds the wildcard address.
std::string Configuration(const fs::path& scratch, const fs::path& exported) {
    return "NFS_CORE_PARAM { Protocols = 4; NFS_Port = 2049; Enable_NLM = false; "
           "Enable_RQUOTA = false; }\n"
           "NFSV4 { Graceless = true; RecoveryBackend = fs; RecoveryRoot = " +
           (scratch / "recovery").string() + "; }\nNFS_KRB5 { Active_krb5 = false; }\n" +
           "EXPORT { Export_Id = 1; Path = " + exported.string() + "; Pseudo = " + kPseudoPath +
           "; Access_Type = RW; Squash = No_Root_Squash; Protocols = 4; "
           "Transports = TCP; SecType = sys; FSAL { Name = VFS; } }\n";
}

// The lines of ganesha's log that say why it could not export (its file system layer's),
// without their time stamps.
std::string FileSystemErrors(const std::string& log) {
    std::string found;
    for (const std::string& line : Lines(log)) {
        const std::size_t at = line.find(" :FSAL :");
        if (at != std::string::npos) {
            found +=
                "; " + line.substr(line.find("] ") != std::string::npos ? line.find("] ") + 2 : 0);
        }
    }
    return found;
}

} // namespace

std::unique_ptr<NfsServer> NfsServer::Start(std::string* whyNot) {
    if (geteuid() != 0 || access("/usr/bin/ganesha.nfsd", X_OK) != 0) {
        *whyNot = "the NFS server needs root and ganesha.nfsd (scripts/deps.sh)";
        return nullptr;
    }
    std::unique_ptr<NfsServer> server(new NfsServer());
    return server->Begin(whyNot) ? std::move(server) : nullptr;
}

bool NfsServer::Begin(std::string* whyNot) {
    static std::atomic<int> serial{0};
    netns_ = Unique("zebnfs") + "-" + std::to_string(serial++);
    export_ = scratch_ / "export";
    scratch_.Make({"export", "recovery"});
    WriteFile(scratch_ / "ganesha.conf", Configuration(scratch_.path(), export_));
    if (*whyNot = namespaces_.Create({netns_}); !whyNot->empty()) {
        return false;
    }
    return StartGanesha(whyNot);
}

bool NfsServer::StartGanesha(std::string* whyNot) {
    // In the foreground and in a session of its own, its log and pid file in the scratch.
    std::vector<std::string> command = InNamespace(netns_);
    command.insert(command.end(), {"ganesha.nfsd", "-F", "-f", (scratch_ / "ganesha.conf").string(),
                                   "-L", (scratch_ / "ganesha.log").string(), "-p",
                                   (scratch_ / "ganesha.pid").string(), "-N", "NIV_EVENT"});
    ProcessOptions daemon;
    daemon.newSession = true;
    daemon.outputFile = scratch_ / "ganesha.out";
    daemon.errorsToOutput = true;
    ganesha_ = std::make_unique<Process>(command, daemon);
    if (!WaitForListener(netns_, "-ltn 'sport = :2049'", "2049", 20000)) {
        *whyNot = "ganesha did not listen on port 2049: " + ReadFile(scratch_ / "ganesha.log");
        return false;
    }
    // Listening is not serving: where ganesha cannot export the directory (in a chroot
    // without /etc/mtab, say), it listens and refuses every mount.
    std::string refused;
    if (WaitUntil([&] { return (refused = MountExport()).empty(); }, 3000, 200)) {
        return true;
    }
    *whyNot = "ganesha listens but its export cannot be mounted (" + refused + ")" +
              FileSystemErrors(ReadFile(scratch_ / "ganesha.log"));
    return false;
}

std::string NfsServer::MountExport() const {
    std::string refused;
    // The namespace is entered by a thread of its own: a network namespace is the thread's.
    std::thread client([&] {
        const int ns = open(("/run/netns/" + netns_).c_str(), O_RDONLY | O_CLOEXEC);
        if (ns < 0 || setns(ns, CLONE_NEWNET) != 0) {
            refused = "cannot enter the namespace " + netns_;
            if (ns >= 0) {
                close(ns);
            }
            return;
        }
        close(ns);
        nfs_context* nfs = nfs_init_context();
        if (nfs == nullptr) {
            refused = "no NFS client";
            return;
        }
        nfs_set_version(nfs, NFS_V4);
        nfs_set_timeout(nfs, 5000);
        if (nfs_mount(nfs, "127.0.0.1", kPseudoPath) != 0) {
            refused = nfs_get_error(nfs);
        }
        nfs_destroy_context(nfs);
    });
    client.join();
    return refused;
}

NfsServer::~NfsServer() {
    if (ganesha_) {
        ganesha_->Signal(SIGCONT); // a test may have left it frozen
        ganesha_->Signal(SIGTERM);
        ganesha_->Finish(10000);
    }
    namespaces_.Remove();
}

std::vector<std::string> NfsServer::Launcher() const {
    return InNamespace(netns_);
}

pid_t NfsServer::ServerPid() const {
    return ganesha_ ? ganesha_->Pid() : -1;
}

std::uint64_t NfsServer::ServerBytesRead() const {
    return ganesha_ ? BytesReadBy(ganesha_->Pid()) : 0;
}

void NfsServer::Kill() {
    if (ganesha_) {
        ganesha_->Kill();
        ganesha_.reset();
    }
}

void NfsServer::Stop() {
    if (ganesha_) {
        ganesha_->Signal(SIGSTOP);
    }
}

void NfsServer::Continue() {
    if (ganesha_) {
        ganesha_->Signal(SIGCONT);
    }
}

bool NfsServer::Restart(std::string* whyNot) {
    Kill();
    return StartGanesha(whyNot);
}

} // namespace zebtest
