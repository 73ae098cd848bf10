#include "nfs_server.h"

#include "files.h"

#include <csignal>

#include <unistd.h>

namespace zebtest {

namespace fs = std::filesystem;

namespace {

// NFSv4 only (no portmapper, lock manager or quota service in the namespace), no grace period
// at start, and no Bind_addr: with only loopback up, the server binds the wildcard address.
std::string Configuration(const fs::path& scratch, const fs::path& exported) {
    return "NFS_CORE_PARAM { Protocols = 4; NFS_Port = 2049; Enable_NLM = false; "
           "Enable_RQUOTA = false; }\n"
           "NFSV4 { Graceless = true; RecoveryBackend = fs; RecoveryRoot = " +
           (scratch / "recovery").string() + "; }\nNFS_KRB5 { Active_krb5 = false; }\n" +
           "EXPORT { Export_Id = 1; Path = " + exported.string() +
           "; Pseudo = /zeb; Access_Type = RW; Squash = No_Root_Squash; Protocols = 4; "
           "Transports = TCP; SecType = sys; FSAL { Name = VFS; } }\n";
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
    netns_ = Unique("zebnfs");
    export_ = scratch_ / "export";
    scratch_.Make({"export", "recovery"});
    WriteFile(scratch_ / "ganesha.conf", Configuration(scratch_.path(), export_));
    if (*whyNot = namespaces_.Create({netns_}); !whyNot->empty()) {
        return false;
    }
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
    if (WaitForListener(netns_, "-ltn 'sport = :2049'", "2049", 20000)) {
        return true;
    }
    *whyNot = "ganesha did not listen on port 2049: " + ReadFile(scratch_ / "ganesha.log");
    return false;
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
    return ganesha_->Pid();
}

std::uint64_t NfsServer::ServerBytesRead() const {
    return BytesReadBy(ganesha_->Pid());
}

} // namespace zebtest
