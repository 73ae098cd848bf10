#include "smb_server.h"

#include <atomic>
#include <csignal>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

namespace zebtest {

namespace fs = std::filesystem;

namespace {

constexpr const char* kPassword = "zeb-test-pw";

bool WriteText(const fs::path& path, const std::string& text, mode_t mode) {
    WriteFile(path, text);
    return ReadFile(path) == text && chmod(path.c_str(), mode) == 0;
}

// Field 6 of /proc/PID/stat, the session; the command name in parentheses may hold blanks.
pid_t SessionOf(const std::string& pid) {
    std::string stat = ReadFile("/proc/" + pid + "/stat");
    std::size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return -1;
    }
    std::istringstream fields(stat.substr(close + 1));
    std::string state;
    long ppid = 0, group = 0, session = -1;
    fields >> state >> ppid >> group >> session;
    return static_cast<pid_t>(session);
}

} // namespace

std::unique_ptr<SmbServer> SmbServer::Start(std::string* whyNot) {
    if (geteuid() != 0) {
        *whyNot = "the SMB server needs root (network and mount namespaces, FUSE)";
        return nullptr;
    }
    if (access("/dev/fuse", R_OK | W_OK) != 0) {
        *whyNot = "no FUSE here (/dev/fuse)";
        return nullptr;
    }
    for (const char* program : {"smbd", "smbpasswd", "smbnetfs", "fusermount3", "nsenter"}) {
        if (FindProgram(program).empty()) {
            *whyNot = std::string(program) + " is not installed (scripts/deps.sh)";
            return nullptr;
        }
    }
    std::unique_ptr<SmbServer> server(new SmbServer());
    if (!server->Begin(whyNot)) {
        return nullptr; // the destructor took down what had come up
    }
    return server;
}

bool SmbServer::Begin(std::string* whyNot) {
    static std::atomic<int> serial{0};
    netns_ = Unique("zebsmb") + "-" + std::to_string(serial++);
    backing_ = scratch_ / "share";
    mountPoint_ = scratch_ / "mnt";
    share_ = mountPoint_ / "127.0.0.1" / "share";
    const fs::path home = scratch_ / "home";
    scratch_.Make(
        {"share", "mnt", "state", "lock", "cache", "pid", "priv", "ncalrpc", "home/.smb"});
    fs::permissions(scratch_ / "priv", fs::perms::owner_all);
    const std::string s = scratch_.path().string();
    const fs::path conf = scratch_ / "smb.conf";
    std::string config =
        "[global]\n  interfaces = lo\n  bind interfaces only = yes\n"
        "  smb ports = 445\n  disable netbios = yes\n  server min protocol = SMB2\n";
    for (const char* dir : {"state", "lock", "cache", "pid"}) {
        config += std::string("  ") + dir + " directory = " + s + "/" + dir + "\n";
    }
    config += "  private dir = " + s + "/priv\n  ncalrpc dir = " + s +
              "/ncalrpc\n  log file = " + s + "/smbd.log\n  passdb backend = tdbsam:" + s +
              "/priv/passdb.tdb\n"
              "  load printers = no\n  printcap name = /dev/null\n  disable spoolss = yes\n"
              "[share]\n  path = " +
              backing_.string() + "\n  read only = no\n  valid users = root\n  force user = root\n";
    if (!WriteText(conf, config, 0644) ||
        !WriteText(home / ".smb" / "smbnetfs.conf",
                   std::string("auth \"127.0.0.1\" \"root\" \"") + kPassword + "\"\n", 0600) ||
        !WriteText(home / ".smb" / "smb.conf", "[global]\n  client min protocol = SMB2\n", 0644)) {
        *whyNot = "cannot write the configuration in " + s;
        return false;
    }
    if (*whyNot = namespaces_.Create({netns_}); !whyNot->empty()) {
        return false;
    }
    // The password goes in through the same configuration, inside the namespace.
    Outcome password = zebtest::Run(
        {"sh", "-c",
         "printf '%s\\n%s\\n' \"$3\" \"$3\" | ip netns exec \"$1\" smbpasswd -c \"$2\" -s -a root",
         "sh", netns_, conf.string(), kPassword},
        zebtest::JoinedOutput());
    if (!password.exited || password.code != 0) {
        *whyNot = "smbpasswd failed: " + password.output;
        return false;
    }
    // smbd signals its process group when it stops: it gets a session of its own.
    ProcessOptions daemon;
    daemon.newSession = true;
    daemon.outputFile = scratch_ / "smbd.out";
    daemon.errorsToOutput = true;
    smbd_ = std::make_unique<Process>(
        std::vector<std::string>{"ip", "netns", "exec", netns_, "smbd", "-s", conf.string(),
                                 "--foreground", "--no-process-group", "--debug-stdout", "-d1"},
        daemon);
    if (!WaitForListener(netns_, "-ltn 'sport = :445'", "127.0.0.1:445", 15000)) {
        *whyNot = "smbd did not listen on 127.0.0.1:445: " + ReadFile(scratch_ / "smbd.out");
        return false;
    }

    // The mount namespace lives as long as its holder, a cat on a pipe that End() closes;
    // smbnetfs runs in it in the background.
    ProcessOptions holder;
    holder.input = true;
    holder.env = {"HOME=" + home.string()};
    holder.errorsToOutput = true;
    holder_ = std::make_unique<Process>(
        std::vector<std::string>{"ip", "netns", "exec", netns_, "unshare", "--mount",
                                 "--propagation", "private", "sh", "-c",
                                 "smbnetfs \"$1\" -o config=\"$2\" || exit 1; echo mounted; "
                                 "exec cat",
                                 "sh", mountPoint_.string(),
                                 (home / ".smb" / "smbnetfs.conf").string()},
        holder);
    if (holder_->ReadLine(20000) != "mounted") {
        *whyNot = "smbnetfs did not mount the share: " + holder_->Output();
        return false;
    }
    mounted_ = true;
    // smbnetfs finds the server and its share on first use.
    if (!WaitUntil(
            [&] {
                Outcome seen = Run({"test", "-d", share_.string()}, 10000);
                return seen.exited && seen.code == 0;
            },
            20000)) {
        *whyNot = "the share did not show at " + share_.string();
        return false;
    }
    return true;
}

SmbServer::~SmbServer() {
    End();
}

void SmbServer::End() {
    if (mounted_) {
        Run({"fusermount3", "-u", mountPoint_.string()}, 20000);
        mounted_ = false;
    }
    if (holder_) {
        holder_->Finish(5000); // closing its input ends the cat
        holder_.reset();
    }
    if (smbd_) {
        smbd_->Signal(SIGTERM);
        smbd_->Finish(10000);
        smbd_.reset();
    }
    // smbd's connection processes may outlive it briefly: they go with the namespace.
    namespaces_.Remove();
}

std::vector<std::string> SmbServer::Launcher() const {
    return {"/usr/bin/nsenter", "-t", std::to_string(holder_->Pid()), "-m", "-n", "--"};
}

Outcome SmbServer::Run(const std::vector<std::string>& argv, int timeoutMs) const {
    std::vector<std::string> command = Launcher();
    command.insert(command.end(), argv.begin(), argv.end());
    return zebtest::Run(command, zebtest::JoinedOutput(), timeoutMs);
}

std::string SmbServer::Password() {
    return kPassword;
}

std::vector<pid_t> SmbServer::ServerPids() const {
    std::vector<pid_t> found;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc", ec)) {
        const std::string pid = entry.path().filename();
        if (pid.find_first_not_of("0123456789") == std::string::npos &&
            SessionOf(pid) == smbd_->Pid()) {
            found.push_back(std::stoi(pid));
        }
    }
    return found;
}

std::uint64_t SmbServer::ServerBytesRead() const {
    std::uint64_t total = 0;
    for (pid_t pid : ServerPids()) {
        total += BytesReadBy(pid);
    }
    return total;
}

} // namespace zebtest
