// Runs zebstation processes for the session stress tests: each in a scratch directory of its
// own (current directory and $WINDIR with ctlogs/), with explicit provider settings, its
// output read line by line with a time limit.
#ifndef ZEB_ENGINE_TESTS_STATION_RUNNER_H
#define ZEB_ENGINE_TESTS_STATION_RUNNER_H

#include <arpa/inet.h>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace zebtest {

// Where a station runs: its address on the test LAN and, for namespaces, how to enter it.
struct StationPlace {
    std::string lanas;               // NETBIOS_LANAS
    std::string broadcast;           // NETBIOS_BROADCAST ("" = from the binding)
    std::uint16_t name_port = 0;     // 0 = the protocol's port
    std::vector<std::string> prefix; // e.g. {"ip", "netns", "exec", "ns"}
    std::vector<std::string> env;    // more NETBIOS_ settings, e.g. "NETBIOS_WINS=127.0.0.9"
};

class StationProcess {
  public:
    StationProcess(const StationPlace& place, const std::vector<std::string>& args) {
        char pattern[] = "/tmp/zebstation.XXXXXX";
        dir_ = mkdtemp(pattern);
        std::filesystem::create_directory(dir_ / "ctlogs");
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) {
            if (std::strncmp(*e, "NETBIOS_", 8) != 0 && std::strncmp(*e, "WINDIR=", 7) != 0) {
                env.emplace_back(*e);
            }
        }
        env.push_back("WINDIR=" + dir_.string());
        env.push_back("NETBIOS_LANAS=" + place.lanas);
        if (!place.broadcast.empty()) {
            env.push_back("NETBIOS_BROADCAST=" + place.broadcast);
        }
        if (place.name_port != 0) {
            env.push_back("NETBIOS_NAME_PORT=" + std::to_string(place.name_port));
            env.push_back("NETBIOS_SESSION_PORT=" + std::to_string(place.name_port + 1));
        }
        env.insert(env.end(), place.env.begin(), place.env.end());
        std::vector<std::string> argv = place.prefix;
        argv.emplace_back(ZEBSTATION_PATH);
        argv.insert(argv.end(), args.begin(), args.end());
        int in[2];
        int out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
            return;
        }
        started_ = std::chrono::steady_clock::now();
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            if (chdir(dir_.c_str()) != 0) {
                _exit(126);
            }
            std::vector<char*> a;
            a.reserve(argv.size() + 1);
            for (auto& s : argv) {
                a.push_back(s.data());
            }
            a.push_back(nullptr);
            std::vector<char*> e;
            e.reserve(env.size() + 1);
            for (auto& s : env) {
                e.push_back(s.data());
            }
            e.push_back(nullptr);
            execvpe(a[0], a.data(), e.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        in_ = in[1];
        out_ = out[0];
    }

    ~StationProcess() {
        CloseInput();
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) {
            close(out_);
        }
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    StationProcess(const StationProcess&) = delete;
    StationProcess& operator=(const StationProcess&) = delete;

    // The next output line, or "" at the time limit or the end of output.
    std::string ReadLine(int timeout_ms = 60000) {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        for (;;) {
            std::size_t nl = pending_.find('\n');
            if (nl != std::string::npos) {
                std::string line = pending_.substr(0, nl);
                pending_.erase(0, nl + 1);
                lines_.push_back(line);
                return line;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            until - std::chrono::steady_clock::now())
                            .count();
            pollfd p{out_, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, static_cast<int>(left)) != 1) {
                return "";
            }
            char buf[4096];
            ssize_t n = read(out_, buf, sizeof buf);
            if (n <= 0) {
                return "";
            }
            pending_.append(buf, static_cast<std::size_t>(n));
        }
    }

    // Reads until a line equal to wanted; false when it does not come in time.
    bool WaitFor(const std::string& wanted, int timeout_ms = 30000) {
        for (;;) {
            std::string line = ReadLine(timeout_ms);
            if (line == wanted) {
                return true;
            }
            if (line.empty()) {
                return false;
            }
        }
    }

    // Closes the station's input (which ends a --hold), reads all output, waits for the exit
    // and returns its status (-1 when killed at the time limit).
    int Finish(int timeout_ms = 120000) {
        CloseInput();
        while (!ReadLine(timeout_ms).empty()) {
        }
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        int status = 0;
        while (pid_ > 0) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                ended_ = std::chrono::steady_clock::now();
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            if (std::chrono::steady_clock::now() > until) {
                kill(pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
                pid_ = -1;
                return -1;
            }
            usleep(10000);
        }
        return -1;
    }

    void CloseInput() {
        if (in_ >= 0) {
            close(in_);
            in_ = -1;
        }
    }

    pid_t Pid() const { return pid_; }
    double Seconds() const { return std::chrono::duration<double>(ended_ - started_).count(); }
    const std::vector<std::string>& Lines() const { return lines_; }
    // The texts posted to the board, in order (line ends shown as \n).
    std::vector<std::string> Posts() const {
        std::vector<std::string> posts;
        for (const auto& l : lines_) {
            if (l.rfind("post ", 0) == 0) {
                posts.push_back(l.substr(5));
            }
        }
        return posts;
    }
    // The value of the first "key value" line.
    std::string Value(const std::string& key) const {
        for (const auto& l : lines_) {
            if (l.rfind(key + " ", 0) == 0) {
                return l.substr(key.size() + 1);
            }
        }
        return "<no " + key + ">";
    }
    std::filesystem::path Report() const { return dir_ / "report.txt"; }
    std::filesystem::path Log() const { return dir_ / "ctlogs" / "PLV.log"; }

  private:
    std::filesystem::path dir_;
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    std::string pending_;
    std::vector<std::string> lines_;
    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::time_point ended_;
};

inline bool CanBind(int type, const char* address, std::uint16_t port) {
    int fd = socket(AF_INET, type, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    inet_pton(AF_INET, address, &sa.sin_addr);
    bool ok = bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    close(fd);
    return ok;
}

// A name port P and session port P+1 free on 127.0.0.2, 127.0.0.3 and the loopback
// broadcast address: a test LAN of its own.
inline std::uint16_t FreeLoopbackPorts() {
    std::mt19937 random(std::random_device{}());
    for (int i = 0; i < 200; ++i) {
        auto port = static_cast<std::uint16_t>(10000 + 2 * (random() % 10000));
        if (CanBind(SOCK_DGRAM, "127.255.255.255", port) &&
            CanBind(SOCK_DGRAM, "127.0.0.2", port) && CanBind(SOCK_DGRAM, "127.0.0.3", port) &&
            CanBind(SOCK_STREAM, "127.0.0.2", static_cast<std::uint16_t>(port + 1)) &&
            CanBind(SOCK_STREAM, "127.0.0.3", static_cast<std::uint16_t>(port + 1))) {
            return port;
        }
    }
    return 0;
}

inline StationPlace Loopback(const char* address, std::uint16_t port) {
    return StationPlace{address, "127.255.255.255", port, {}, {}};
}

// Runs a shell command; its output, standard error included, goes to output when given.
inline int Shell(const std::string& command, std::string* output = nullptr) {
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (p == nullptr) {
        return -1;
    }
    std::array<char, 1024> buf;
    std::size_t n = 0;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) {
        if (output != nullptr) {
            output->append(buf.data(), n);
        }
    }
    return pclose(p);
}

// Two hosts in two network namespaces joined by a veth link of their own: 192.0.2.1/24 in
// the first, 192.0.2.2/24 in the second, no route beyond the link.
struct VethHosts {
    std::string a;     // first namespace
    std::string b;     // second namespace
    std::string linkB; // the second host's end of the link

    // Creates both, named with tag and this process's id. False, with the commands' output
    // in why, where this machine cannot make them; nothing is left behind then.
    bool Create(const std::string& tag, std::string* why) {
        const std::string id = std::to_string(getpid() % 100000);
        a = "zeb_" + tag + "a_" + id;
        b = "zeb_" + tag + "b_" + id;
        const std::string linkA = "vz" + tag + "a" + id;
        linkB = "vz" + tag + "b" + id;
        const int status =
            Shell("ip netns add " + a + " && ip netns add " + b + " && ip link add " + linkA +
                      " type veth peer name " + linkB + " && ip link set " + linkA + " netns " + a +
                      " && ip link set " + linkB + " netns " + b + " && ip -n " + a +
                      " addr add 192.0.2.1/24 dev " + linkA + " && ip -n " + b +
                      " addr add 192.0.2.2/24 dev " + linkB + " && ip -n " + a +
                      " link set lo up && ip -n " + b + " link set lo up && ip -n " + a +
                      " link set " + linkA + " up && ip -n " + b + " link set " + linkB + " up",
                  why);
        if (status != 0) {
            Remove();
        }
        return status == 0;
    }
    void Remove() {
        if (!a.empty()) {
            Shell("ip netns del " + a + "; ip netns del " + b);
            a.clear();
        }
    }
    // A station inside namespace ns: the protocol's own ports, the broadcast of the /24 link.
    static StationPlace Host(const std::string& ns, const std::string& address) {
        return StationPlace{address + "/24", "", 0, {"ip", "netns", "exec", ns}, {}};
    }
};

} // namespace zebtest

#endif
