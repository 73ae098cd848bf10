// Station processes for the provider's tests.
#include "stationharness.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

Station::Station(const StationSettings& s) {
    char path[] = "/tmp/nbstation-err-XXXXXX";
    int err = mkstemp(path);
    errors_path_ = path;
    int to_child[2];
    int from_child[2];
    if (pipe2(to_child, O_CLOEXEC) != 0 || pipe2(from_child, O_CLOEXEC) != 0) {
        return;
    }
    // The station's environment: ours without any NETBIOS_ setting, then exactly its own.
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, "NETBIOS_", 8) != 0) {
            env.emplace_back(*e);
        }
    }
    // The first of two settings of one variable is the one that counts.
    env.insert(env.end(), s.extra_env.begin(), s.extra_env.end());
    env.push_back("NETBIOS_LANAS=" + s.lanas);
    if (!s.broadcast.empty()) {
        env.push_back("NETBIOS_BROADCAST=" + s.broadcast);
    }
    if (s.name_port != 0) {
        env.push_back("NETBIOS_NAME_PORT=" + std::to_string(s.name_port));
    }
    if (s.session_port != 0) {
        env.push_back("NETBIOS_SESSION_PORT=" + std::to_string(s.session_port));
    }
    std::vector<std::string> args = s.exec_prefix;
    args.emplace_back(NBSTATION_PATH);

    pid_ = fork();
    if (pid_ == 0) {
        dup2(to_child[0], 0);
        dup2(from_child[1], 1);
        dup2(err, 2);
        std::vector<char*> argv;
        argv.reserve(args.size() + 1);
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        std::vector<char*> envp;
        envp.reserve(env.size() + 1);
        for (auto& e : env) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(err);
    close(to_child[0]);
    close(from_child[1]);
    in_ = to_child[1];
    out_ = from_child[0];
}

Station::~Station() {
    if (pid_ > 0) {
        Send("quit");
        close(in_);
        int status = 0;
        for (int i = 0; i < 100; ++i) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            usleep(20000);
        }
        Kill();
    }
    if (out_ >= 0) {
        close(out_);
    }
    unlink(errors_path_.c_str());
}

void Station::Kill() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

void Station::Send(const std::string& line) {
    std::string l = line + "\n";
    if (write(in_, l.data(), l.size()) < 0) {
        // The station is gone; Read reports it.
    }
}

std::string Station::Read(int timeout_ms) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        std::size_t nl = pending_.find('\n');
        if (nl != std::string::npos) {
            std::string line = pending_.substr(0, nl);
            pending_.erase(0, nl + 1);
            return line;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        until - std::chrono::steady_clock::now())
                        .count();
        pollfd p{out_, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) != 1) {
            return "";
        }
        char buf[512];
        ssize_t n = read(out_, buf, sizeof buf);
        if (n <= 0) {
            return "";
        }
        pending_.append(buf, static_cast<std::size_t>(n));
    }
}

std::string Station::Cmd(const std::string& line, int timeout_ms) {
    Send(line);
    return Read(timeout_ms);
}

std::string Station::Errors() const {
    std::ifstream in(errors_path_);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
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
        auto port = static_cast<std::uint16_t>(20000 + 2 * (random() % 10000));
        if (CanBind(SOCK_DGRAM, "127.255.255.255", port) &&
            CanBind(SOCK_DGRAM, "127.0.0.2", port) && CanBind(SOCK_DGRAM, "127.0.0.3", port) &&
            CanBind(SOCK_STREAM, "127.0.0.2", static_cast<std::uint16_t>(port + 1)) &&
            CanBind(SOCK_STREAM, "127.0.0.3", static_cast<std::uint16_t>(port + 1))) {
            return port;
        }
    }
    return 0;
}

std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> out;
    std::string w;
    while (in >> w) {
        out.push_back(w);
    }
    return out;
}
