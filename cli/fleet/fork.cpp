#include "fleet/fork.h"

#include "fleet/client.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace zebcli::fleet {

namespace {

using Clock = std::chrono::steady_clock;

// The longest line of a client's output the parent forwards whole; a longer one goes on in
// pieces of this size.
constexpr std::size_t kMaxOutputLine = 16384;
// How often the parent looks for a client that has closed its pipes but not yet ended.
constexpr int kReapPollMs = 20;

// The clients' process groups, for the SIGINT handler (0: none).
std::array<std::atomic<pid_t>, kMaxClients> g_groups{};
volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) {
    const int saved = errno;
    g_interrupted = 1;
    for (const auto& group : g_groups) {
        if (const pid_t pid = group.load(); pid > 0) {
            ::kill(-pid, SIGINT);
        }
    }
    errno = saved;
}

enum class State { Preparing, Ready, Running, Exiting, Gone };

struct Child {
    std::uint32_t client = 0;
    pid_t pid = -1;
    int status = -1;  // its lines to the parent
    int control = -1; // the parent's lines to it
    int output = -1;  // its standard output and error
    State state = State::Preparing;
    std::size_t round = 0;
    Clock::time_point deadline;
    std::string statusLine;
    std::string outputLine;
    bool failed = false;
    ClientEnd end;
};

void Close(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

std::string Seconds(std::chrono::milliseconds bound) {
    return std::to_string(bound.count() / 1000) + " s";
}

// The pass a client is at, for a report: "preparing pass 2", "running pass 2".
std::string Where(const Child& child) {
    const std::string pass = "pass " + std::to_string(child.round + 1);
    switch (child.state) {
    case State::Preparing:
        return "preparing " + pass;
    case State::Ready:
        return "prepared for " + pass;
    case State::Running:
        return "running " + pass;
    case State::Exiting:
    case State::Gone:
        break;
    }
    return "ending";
}

void Reap(Child& child, int options) {
    int status = 0;
    pid_t got = 0;
    do {
        got = ::waitpid(child.pid, &status, options);
    } while (got < 0 && errno == EINTR);
    if (got != child.pid) {
        return;
    }
    if (WIFEXITED(status)) {
        child.end.exited = true;
        child.end.status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        child.end.signal = WTERMSIG(status);
    }
    child.state = State::Gone;
    // What it printed last is still read, for a while.
    child.deadline = Clock::now() + std::chrono::seconds(5);
    g_groups[child.client - 1] = 0;
    Close(child.status);
    Close(child.control);
}

void Kill(Child& child, const std::string& why) {
    ::kill(-child.pid, SIGKILL);
    ::kill(child.pid, SIGKILL);
    if (child.end.ended.empty()) {
        child.end.ended = why;
    }
    Reap(child, 0);
}

void Send(Child& child, const char* line) {
    const std::size_t length = std::strlen(line);
    ssize_t n = 0;
    do {
        n = ::write(child.control, line, length);
    } while (n < 0 && errno == EINTR);
    // A client gone already shows as the end of its status pipe.
}

// One line of a client's status: "ready R" or "ended R passed|failed".
void OnStatus(Child& child, const std::string& line, std::chrono::milliseconds bound) {
    char word[16] = {};
    char verdict[16] = {};
    unsigned long round = 0;
    const int fields = std::sscanf(line.c_str(), "%15s %lu %15s", word, &round, verdict);
    if (fields >= 2 && std::strcmp(word, kReadyWord) == 0 && child.state == State::Preparing) {
        child.state = State::Ready;
        child.round = round;
    } else if (fields == 3 && std::strcmp(word, kEndedWord) == 0 && child.state == State::Running) {
        child.failed = child.failed || std::strcmp(verdict, "passed") != 0;
        ++child.end.passesReleased;
        child.state = State::Preparing;
        child.round = round + 1;
        child.deadline = Clock::now() + bound;
    } else {
        Kill(child, "said what its release does not know: " + line);
    }
}

// Reads what is there; false at the end of the pipe.
bool ReadSome(int fd, std::string& into, const std::function<void(const std::string&)>& line,
              std::size_t longest) {
    char buffer[4096];
    ssize_t n = 0;
    do {
        n = ::read(fd, buffer, sizeof buffer);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
        return false;
    }
    for (ssize_t i = 0; i < n; ++i) {
        if (buffer[i] == '\n') {
            line(into);
            into.clear();
        } else {
            into += buffer[i];
            if (into.size() >= longest) {
                line(into);
                into.clear();
            }
        }
    }
    return true;
}

// The child's side, from the fork to its exit.
[[noreturn]] void BeChild(Child& self, std::vector<Child>& others, int toParent, int fromParent,
                          int output, const ForkSettings& settings,
                          const std::function<int(std::uint32_t, Release&)>& client) {
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGPIPE, SIG_DFL);
    for (Child& other : others) {
        Close(other.status);
        Close(other.control);
        Close(other.output);
    }
    if (::dup2(output, STDOUT_FILENO) < 0 || ::dup2(output, STDERR_FILENO) < 0) {
        ::_exit(2);
    }
    ::close(output);
    // The parent waits at most the bound for this client and then ends it; this client waits
    // longer for the parent, so that the parent's word decides.
    PipeRelease release(toParent, fromParent, settings.bound * 2 + std::chrono::seconds(10));
    const int status = client(self.client, release);
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(status);
}

} // namespace

bool Interrupted() {
    return g_interrupted != 0;
}

void ForwardInterrupts() {
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
}

std::vector<ClientEnd> RunForked(const ForkSettings& settings,
                                 const std::function<int(std::uint32_t, Release&)>& client) {
    std::signal(SIGPIPE, SIG_IGN);
    std::fflush(stdout);
    std::fflush(stderr);
    std::vector<Child> children(settings.clients);
    const pid_t parent = ::getpid();
    for (std::uint32_t i = 0; i < settings.clients; ++i) {
        Child& child = children[i];
        child.client = i + 1;
        child.end.client = child.client;
        int up[2];
        int down[2];
        int out[2];
        if (::pipe2(up, O_CLOEXEC) != 0 || ::pipe2(down, O_CLOEXEC) != 0 ||
            ::pipe2(out, O_CLOEXEC) != 0) {
            child.state = State::Gone;
            child.end.ended = std::string("its pipes could not be made: ") + std::strerror(errno);
            continue;
        }
        child.pid = ::fork();
        if (child.pid == 0) {
            ::close(up[0]);
            ::close(down[1]);
            ::close(out[0]);
            if (::getppid() != parent) {
                ::_exit(2);
            }
            std::vector<Child> others(children.begin(), children.begin() + i);
            BeChild(child, others, up[1], down[0], out[1], settings, client);
        }
        ::close(up[1]);
        ::close(down[0]);
        ::close(out[1]);
        if (child.pid < 0) {
            ::close(up[0]);
            ::close(down[1]);
            ::close(out[0]);
            child.state = State::Gone;
            child.end.ended = std::string("it could not be started: ") + std::strerror(errno);
            continue;
        }
        ::setpgid(child.pid, child.pid);
        g_groups[i] = child.pid;
        child.status = up[0];
        child.control = down[1];
        child.output = out[0];
        child.deadline = Clock::now() + settings.bound;
    }
    ForwardInterrupts();

    const auto live = [&] {
        return std::any_of(children.begin(), children.end(),
                           [](const Child& c) { return c.state != State::Gone || c.output >= 0; });
    };
    while (live()) {
        const auto now = Clock::now();
        // Every client still running is prepared: all go at once (or, after a failure when
        // the run stops on one, all stop).
        const bool allReady =
            std::all_of(
                children.begin(), children.end(),
                [](const Child& c) { return c.state == State::Ready || c.state == State::Gone; }) &&
            std::any_of(children.begin(), children.end(),
                        [](const Child& c) { return c.state == State::Ready; });
        if (allReady) {
            const bool stop = settings.stopOnFailure &&
                              std::any_of(children.begin(), children.end(), [](const Child& c) {
                                  return c.failed || (c.state == State::Gone &&
                                                      !(c.end.exited && c.end.status == 0));
                              });
            for (Child& child : children) {
                if (child.state == State::Ready) {
                    Send(child, stop ? kStopLine : kGoLine);
                    child.end.stopped = stop;
                    child.state = stop ? State::Exiting : State::Running;
                    child.deadline = now + settings.bound;
                }
            }
        }
        std::vector<pollfd> fds;
        std::vector<std::pair<Child*, bool>> owners; // the child, and whether it is its status
        int timeout = -1;
        bool exiting = false;
        for (Child& child : children) {
            if (child.status >= 0) {
                fds.push_back({child.status, POLLIN, 0});
                owners.emplace_back(&child, true);
            }
            if (child.output >= 0) {
                fds.push_back({child.output, POLLIN, 0});
                owners.emplace_back(&child, false);
            }
            if (child.state != State::Ready && (child.state != State::Gone || child.output >= 0)) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(child.deadline - now)
                        .count();
                const int ms = static_cast<int>(std::clamp<long long>(left, 0, 60'000));
                timeout = timeout < 0 ? ms : std::min(timeout, ms);
            }
            exiting = exiting || (child.state == State::Exiting && child.status < 0);
        }
        if (exiting) {
            timeout = timeout < 0 ? kReapPollMs : std::min(timeout, kReapPollMs);
        }
        const int ready = ::poll(fds.data(), fds.size(), timeout);
        if (ready < 0 && errno != EINTR) {
            for (Child& child : children) {
                if (child.state != State::Gone) {
                    Kill(child, std::string("its release failed: ") + std::strerror(errno));
                }
                Close(child.output);
            }
            break;
        }
        for (std::size_t k = 0; ready > 0 && k < fds.size(); ++k) {
            if ((fds[k].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
                continue;
            }
            Child& child = *owners[k].first;
            if (owners[k].second) {
                if (child.status < 0) {
                    continue;
                }
                if (!ReadSome(
                        child.status, child.statusLine,
                        [&](const std::string& line) {
                            if (child.state != State::Gone) {
                                OnStatus(child, line, settings.bound);
                            }
                        },
                        kMaxControlLine)) {
                    Close(child.status);
                    if (child.state != State::Gone) {
                        child.state = State::Exiting;
                        child.deadline = Clock::now() + settings.bound;
                    }
                }
            } else if (child.output >= 0 &&
                       !ReadSome(
                           child.output, child.outputLine,
                           [&](const std::string& line) { settings.line(child.client, line); },
                           kMaxOutputLine)) {
                if (!child.outputLine.empty()) {
                    settings.line(child.client, child.outputLine);
                    child.outputLine.clear();
                }
                Close(child.output);
            }
        }
        const auto later = Clock::now();
        for (Child& child : children) {
            if (child.state == State::Exiting && child.status < 0) {
                Reap(child, WNOHANG);
            }
            // A client waiting at its release waits for the others, whose own bounds hold.
            if (child.state != State::Gone && child.state != State::Ready &&
                later >= child.deadline) {
                Kill(child,
                     "no word within " + Seconds(settings.bound) + " (" + Where(child) + ")");
            }
            // A client ended and its output read to the end, or its output left open by a
            // process of its group that outlived it: that group is ended too.
            if (child.state == State::Gone && child.output >= 0 && child.pid > 0 &&
                later >= child.deadline) {
                ::kill(-child.pid, SIGKILL);
                Close(child.output);
            }
        }
    }
    std::signal(SIGINT, SIG_DFL);
    std::vector<ClientEnd> ends;
    ends.reserve(children.size());
    for (Child& child : children) {
        ends.push_back(child.end);
    }
    return ends;
}

} // namespace zebcli::fleet
