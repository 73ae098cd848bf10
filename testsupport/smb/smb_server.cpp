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

// The processes of session, from field 6 of each /proc/PID/stat (the command name in
// parentheses may hold blanks): those still running, and in *ended whether one has ended and
// not yet been waited for (a zombie, whose reads its parent's count takes over only then).
std::vector<pid_t> SessionMembers(pid_t session, bool* ended) {
    std::vector<pid_t> found;
    *ended = false;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc", ec)) {
        const std::string pid = entry.path().filename();
        if (pid.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        const std::string stat = ReadFile("/proc/" + pid + "/stat");
        const std::size_t close = stat.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        std::istringstream fields(stat.substr(close + 1));
        std::string state;
        long ppid = 0, group = 0, member = -1;
        fields >> state >> ppid >> group >> member;
        if (member != session) {
            continue;
        }
        if (state == "Z") {
            *ended = true;
        } else {
            found.push_back(std::stoi(pid));
        }
    }
    return found;
}

} // namespace

std::unique_ptr<SmbServer> SmbServer::Start(std::string* whyNot, SmbServerOptions options) {
    if (geteuid() != 0) {
        *whyNot = "the SMB server needs root (network namespaces)";
        return nullptr;
    }
    std::vector<const char*> programs = {"smbd", "smbpasswd"};
    if (options.mount) {
        if (access("/dev/fuse", R_OK | W_OK) != 0) {
            *whyNot = "no FUSE here (/dev/fuse) for the share's mount";
            return nullptr;
        }
        programs.insert(programs.end(), {"smbnetfs", "fusermount3", "nsenter"});
    }
    for (const char* program : programs) {
        if (FindProgram(program).empty()) {
            *whyNot = std::string(program) + " is not installed (scripts/deps.sh)";
            return nullptr;
        }
    }
    std::unique_ptr<SmbServer> server(new SmbServer());
    if (!server->Begin(whyNot, options)) {
        return nullptr; // the destructor took down what had come up
    }
    return server;
}

bool SmbServer::Begin(std::string* whyNot, SmbServerOptions options) {
    static std::atomic<int> serial{0};
    const std::string n = std::to_string(serial++);
    netns_ = Unique("zebsmb") + "-" + n;
    backing_ = scratch_ / "share";
    conf_ = scratch_ / "smb.conf";
    scratch_.Make({"share", "state", "lock", "cache", "pid", "priv", "ncalrpc"});
    fs::permissions(scratch_ / "priv", fs::perms::owner_all);
    // The second user works on the share as nobody: the way to the share and the share are
    // open to it.
    fs::permissions(scratch_.path(),
                    fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::permissions(backing_, fs::perms::all);
    const std::string s = scratch_.path().string();
    const Account other = OtherUser();
    std::string config =
        "[global]\n  interfaces = lo" + (options.lan ? " " + options.lan->address : "") +
        "\n  bind interfaces only = yes\n"
        "  smb ports = 445\n  disable netbios = yes\n  server min protocol = SMB2\n";
    for (const char* dir : {"state", "lock", "cache", "pid"}) {
        config += std::string("  ") + dir + " directory = " + s + "/" + dir + "\n";
    }
    config +=
        "  private dir = " + s + "/priv\n  ncalrpc dir = " + s + "/ncalrpc\n  log file = " + s +
        "/smbd.log\n  passdb backend = tdbsam:" + s + "/priv/passdb.tdb\n  username map = " + s +
        "/users.map\n"
        "  load printers = no\n  printcap name = /dev/null\n  disable spoolss = yes\n"
        "[share]\n  path = " +
        backing_.string() + "\n  read only = no\n  valid users = root " + other.systemUser + "\n";
    if (!WriteText(conf_, config, 0644) ||
        !WriteText(scratch_ / "users.map", other.systemUser + " = " + other.name + "\n", 0644)) {
        *whyNot = "cannot write the configuration in " + s;
        return false;
    }
    const std::string join =
        options.lan ? JoinBridgeCommand(netns_, *options.lan, Unique("vzs") + "s" + n) : "";
    if (*whyNot = namespaces_.Create({netns_}, join); !whyNot->empty()) {
        return false;
    }
    // The passwords go in through the same configuration, inside the namespace.
    for (const auto& [user, password] :
         {std::pair<std::string, std::string>{"root", kPassword},
          std::pair<std::string, std::string>{other.systemUser, other.password}}) {
        const std::string script = "printf '%s\\n%s\\n' \"$3\" \"$3\" | "
                                   "ip netns exec \"$1\" smbpasswd -c \"$2\" -s -a \"$4\"";
        Outcome added =
            zebtest::Run({"sh", "-c", script, "sh", netns_, conf_.string(), password, user},
                         zebtest::JoinedOutput());
        if (!added.exited || added.code != 0) {
            *whyNot = "smbpasswd failed for " + user + ": " + added.output;
            return false;
        }
    }
    return StartSmbd(whyNot) && (!options.mount || Mount(whyNot, options.kernelCache));
}

bool SmbServer::StartSmbd(std::string* whyNot) {
    // smbd signals its process group when it stops: it gets a session of its own.
    ProcessOptions daemon;
    daemon.newSession = true;
    daemon.outputFile = scratch_ / "smbd.out";
    daemon.errorsToOutput = true;
    smbd_ = std::make_unique<Process>(
        std::vector<std::string>{"ip", "netns", "exec", netns_, "smbd", "-s", conf_.string(),
                                 "--foreground", "--no-process-group", "--debug-stdout", "-d1"},
        daemon);
    if (!WaitForListener(netns_, "-ltn 'sport = :445'", "127.0.0.1:445", 15000)) {
        *whyNot = "smbd did not listen on 127.0.0.1:445: " + ReadFile(scratch_ / "smbd.out");
        return false;
    }
    return true;
}

bool SmbServer::Mount(std::string* whyNot, bool kernelCache) {
    const fs::path home = scratch_ / "home";
    mountPoint_ = scratch_ / "mnt";
    share_ = mountPoint_ / "127.0.0.1" / "share";
    scratch_.Make({"mnt", "home/.smb"});
    if (!WriteText(home / ".smb" / "smbnetfs.conf",
                   std::string("auth \"127.0.0.1\" \"root\" \"") + kPassword + "\"\n", 0600) ||
        !WriteText(home / ".smb" / "smb.conf", "[global]\n  client min protocol = SMB2\n", 0644)) {
        *whyNot = "cannot write the mount's configuration in " + home.string();
        return false;
    }
    // The mount namespace lives as long as its holder, a cat on a pipe that End() closes;
    // smbnetfs runs in it in the background.
    ProcessOptions holder;
    holder.input = true;
    holder.env = {"HOME=" + home.string()};
    holder.errorsToOutput = true;
    const std::string script =
        "smbnetfs \"$1\" -o config=\"$2\"$3 || exit 1; echo mounted; exec cat";
    holder_ = std::make_unique<Process>(
        std::vector<std::string>{"ip", "netns", "exec", netns_, "unshare", "--mount",
                                 "--propagation", "private", "sh", "-c", script, "sh",
                                 mountPoint_.string(), (home / ".smb" / "smbnetfs.conf").string(),
                                 kernelCache ? ",kernel_cache" : ""},
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
    Continue(); // a frozen smbd would not take its SIGTERM
    if (smbd_) {
        smbd_->Signal(SIGTERM);
        smbd_->Finish(10000);
        smbd_.reset();
    }
    // smbd's connection processes may outlive it briefly: they go with the namespace.
    namespaces_.Remove();
}

std::vector<std::string> SmbServer::Launcher() const {
    if (holder_) {
        return {"/usr/bin/nsenter", "-t", std::to_string(holder_->Pid()), "-m", "-n", "--"};
    }
    return {FindProgram("ip"), "netns", "exec", netns_};
}

Outcome SmbServer::Run(const std::vector<std::string>& argv, int timeoutMs) const {
    std::vector<std::string> command = Launcher();
    command.insert(command.end(), argv.begin(), argv.end());
    return zebtest::Run(command, zebtest::JoinedOutput(), timeoutMs);
}

std::string SmbServer::Password() {
    return kPassword;
}

SmbServer::Account SmbServer::OtherUser() {
    return {"zebuser", "zeb-other-pw", "nobody"};
}

std::vector<pid_t> SmbServer::ServerPids() const {
    bool ended = false;
    return smbd_ ? SessionMembers(smbd_->Pid(), &ended) : std::vector<pid_t>{};
}

std::uint64_t SmbServer::ServerBytesRead() const {
    if (!smbd_) {
        return 0;
    }
    // A connection's process that has just ended counts again once smbd has waited for it.
    std::vector<pid_t> running;
    WaitUntil(
        [&] {
            bool ended = false;
            running = SessionMembers(smbd_->Pid(), &ended);
            return !ended;
        },
        5000, 10);
    std::uint64_t total = 0;
    for (pid_t pid : running) {
        total += BytesReadBy(pid);
    }
    return total;
}

void SmbServer::Kill() {
    stopped_.clear(); // SIGKILL ends frozen processes too
    if (!smbd_) {
        return;
    }
    // Until none is left: a connection's process forked meanwhile goes too.
    WaitUntil(
        [&] {
            const std::vector<pid_t> left = ServerPids();
            for (pid_t pid : left) {
                kill(pid, SIGKILL);
            }
            return left.empty();
        },
        10000);
    smbd_->Finish(10000);
    smbd_.reset();
}

void SmbServer::Stop() {
    stopped_ = ServerPids();
    for (pid_t pid : stopped_) {
        kill(pid, SIGSTOP);
    }
}

void SmbServer::Continue() {
    for (pid_t pid : stopped_) {
        kill(pid, SIGCONT);
    }
    stopped_.clear();
}

bool SmbServer::Restart(std::string* whyNot) {
    Kill();
    return StartSmbd(whyNot);
}

} // namespace zebtest
