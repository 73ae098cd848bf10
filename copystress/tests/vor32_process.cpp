#include "vor32_process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vor32_test {

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

} // namespace

Vor32Process::Vor32Process(const std::vector<std::string>& args, const SpawnOptions& options) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe");
    }
    if (options.pipeSize > 0) {
        fcntl(fds[1], F_SETPIPE_SZ, options.pipeSize);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (options.closeStandardOutput) {
        posix_spawn_file_actions_addclose(&actions, 1);
    } else {
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    }
    if (!options.cwd.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, options.cwd.c_str());
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t mask;
    sigemptyset(&mask);
    if (options.blockStopSignals) {
        sigaddset(&mask, SIGINT);
        sigaddset(&mask, SIGTERM);
        sigaddset(&mask, SIGHUP);
    }
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGHUP);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &mask);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> argv;
    std::string program = VOR32_BINARY;
    argv.push_back(program.data());
    std::vector<std::string> copies(args);
    for (std::string& arg : copies) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    int error = posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(fds[1]);
    readFd_ = fds[0];
    if (error != 0) {
        close(readFd_);
        throw std::runtime_error("posix_spawn of " + program);
    }
}

Vor32Process::~Vor32Process() {
    if (!reaped_ && pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (readFd_ >= 0) {
        close(readFd_);
    }
}

bool Vor32Process::ReadSome(int timeoutMs) {
    pollfd entry{readFd_, POLLIN, 0};
    if (poll(&entry, 1, timeoutMs) <= 0) {
        return false;
    }
    char chunk[65536];
    ssize_t n = read(readFd_, chunk, sizeof chunk);
    if (n <= 0) {
        return false;
    }
    output_.append(chunk, static_cast<std::size_t>(n));
    return true;
}

bool Vor32Process::ReadUntil(std::string_view text, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (output_.find(text) == std::string::npos) {
        if (!ReadSome(RemainingMs(deadline))) {
            return false;
        }
    }
    return true;
}

bool Vor32Process::WaitBlockedOnOutput(int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    // /proc/PID/syscall shows the call a sleeping process sits in: number, then arguments.
    std::string blocked = std::to_string(SYS_write) + " 0x1 ";
    std::string path = "/proc/" + std::to_string(pid_) + "/syscall";
    while (Clock::now() < deadline) {
        std::ifstream file(path);
        std::string line;
        std::getline(file, line);
        if (line.rfind(blocked, 0) == 0) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

void Vor32Process::Signal(int signal) { kill(pid_, signal); }

Outcome Vor32Process::Finish(int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (ReadSome(RemainingMs(deadline))) {
    }
    Outcome outcome;
    int status = 0;
    while (true) {
        pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            break;
        }
        if (RemainingMs(deadline) == 0) {
            outcome.output = output_;
            return outcome; // still running: neither exited nor signalled
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    reaped_ = true;
    outcome.exited = WIFEXITED(status);
    outcome.code = outcome.exited ? WEXITSTATUS(status) : WTERMSIG(status);
    outcome.output = output_;
    return outcome;
}

Outcome RunVor32(const std::vector<std::string>& args, const std::filesystem::path& cwd) {
    SpawnOptions options;
    options.cwd = cwd;
    Vor32Process process(args, options);
    return process.Finish();
}

} // namespace vor32_test
