#include "nfs_server.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include <unistd.h>

namespace zebtest {

namespace fs = std::filesystem;

namespace {

std::string ReadText(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// NFSv4 only (no portmapper, lock manager or quota service in the namespace), no grace period
// at start, and no Bind_addr: with only loopback up, the server binds the wildcard address.
std::string Configuration(const fs::path& scratch, const fs::path& exported) {
    return "NFS_CORE_PARAM {\n  Protocols = 4;\n  NFS_Port = 2049;\n  Enable_NLM = false;\n"
           "  Enable_RQUOTA = false;\n}\n"
           "NFSV4 {\n  Graceless = true;\n  RecoveryBackend = fs;\n  RecoveryRoot = " +
           (scratch / "recovery").string() +
           ";\n}\n"
           "NFS_KRB5 {\n  Active_krb5 = false;\n}\n"
           "EXPORT {\n  Export_Id = 1;\n  Path = " +
           exported.string() +
           ";\n  Pseudo = /zeb;\n  Access_Type = RW;\n  Squash = No_Root_Squash;\n"
           "  Protocols = 4;\n  Transports = TCP;\n  SecType = sys;\n  FSAL {\n    Name = VFS;\n"
           "  }\n}\n";
}

// True once a socket of pid's network namespace listens on port 2049.
bool Listening(pid_t pid) {
    for (const char* table : {"/net/tcp", "/net/tcp6"}) {
        std::istringstream lines(ReadText("/proc/" + std::to_string(pid) + table));
        std::string line;
        while (std::getline(lines, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state;
            fields >> slot >> local >> remote >> state;
            if (local.size() > 5 && local.ends_with(":0801") && state == "0A") {
                return true;
            }
        }
    }
    return false;
}

} // namespace

std::unique_ptr<NfsServer> NfsServer::Start(std::string* whyNot) {
    if (geteuid() != 0) {
        *whyNot = "the NFS server needs root (a network namespace)";
        return nullptr;
    }
    if (access("/usr/bin/ganesha.nfsd", X_OK) != 0) {
        *whyNot = "ganesha.nfsd is not installed (scripts/deps.sh)";
        return nullptr;
    }
    std::unique_ptr<NfsServer> server(new NfsServer());
    if (!server->Begin(whyNot)) {
        return nullptr; // the destructor took down what had come up
    }
    return server;
}

bool NfsServer::Begin(std::string* whyNot) {
    static std::atomic<int> serial{0};
    char name[64];
    std::snprintf(name, sizeof name, "zebnfs%d-%d", static_cast<int>(getpid()), serial++);
    netns_ = name;
    char pattern[] = "/tmp/zebnfs.XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        *whyNot = "no scratch directory";
        return false;
    }
    scratch_ = pattern;
    export_ = scratch_ / "export";
    fs::create_directories(export_);
    fs::create_directories(scratch_ / "recovery");
    const fs::path conf = scratch_ / "ganesha.conf";
    {
        std::ofstream file(conf);
        file << Configuration(scratch_, export_);
    }
    CommandResult made = RunCommand({"ip", "netns", "add", netns_});
    if (!made.exited || made.code != 0) {
        *whyNot = "no network namespace here: " + made.output;
        return false;
    }
    netnsMade_ = true;
    RunCommand({"ip", "-n", netns_, "link", "set", "lo", "up"});
    ganesha_ = std::make_unique<BackgroundCommand>(
        std::vector<std::string>{"ip", "netns", "exec", netns_, "ganesha.nfsd", "-F", "-f",
                                 conf.string(), "-L", (scratch_ / "ganesha.log").string(), "-p",
                                 (scratch_ / "ganesha.pid").string(), "-N", "NIV_EVENT"},
        std::vector<std::string>{}, true, (scratch_ / "ganesha.out").string());
    for (int waited = 0; waited < 20000; waited += 50) {
        if (Listening(ganesha_->pid())) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    *whyNot = "ganesha did not listen on port 2049: " + ReadText(scratch_ / "ganesha.log");
    return false;
}

NfsServer::~NfsServer() {
    if (ganesha_) {
        kill(ganesha_->pid(), SIGCONT); // a test may have left it frozen
        ganesha_->Stop(SIGTERM, 10000);
        ganesha_.reset();
    }
    if (netnsMade_) {
        RunCommand({"ip", "netns", "del", netns_});
    }
    if (!scratch_.empty()) {
        std::error_code ignored;
        fs::remove_all(scratch_, ignored);
    }
}

std::vector<std::string> NfsServer::Launcher() const {
    return {"/usr/sbin/ip", "netns", "exec", netns_};
}

pid_t NfsServer::ServerPid() const {
    return ganesha_->pid();
}

std::uint64_t NfsServer::ServerBytesRead() const {
    std::istringstream io(ReadText("/proc/" + std::to_string(ganesha_->pid()) + "/io"));
    std::string key;
    std::uint64_t value = 0;
    while (io >> key >> value) {
        if (key == "rchar:") {
            return value;
        }
    }
    return 0;
}

} // namespace zebtest
