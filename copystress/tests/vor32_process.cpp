#include "vor32_process.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <poll.h>
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
    errorFd_ =
        open(std::filesystem::temp_directory_path().c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (errorFd_ < 0) {
        close(fds[0]);
        close(fds[1]);
        throw std::runtime_error("temporary file");
    }
    if (options.pipeSize > 0) {
        fcntl(fds[1], F_SETPIPE_SZ, options.pipeSize);
    }
    // Everything the child needs is prepared before fork: after it only async-signal-safe
    // calls are made.
    std::string vor32 = VOR32_BINARY;
    std::vector<std::string> copies(options.launcher);
    copies.push_back(vor32);
    copies.insert(copies.end(), args.begin(), args.end());
    std::string program = copies.front();
    std::vector<char*> argv;
    for (std::string& arg : copies) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> added(options.environment);
    std::vector<char*> envp;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        envp.push_back(*entry);
    }
    for (std::string& entry : added) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    std::string cwd = options.cwd.string();
    std::string outputFile = options.outputFile.string();
    sigset_t mask;
    sigemptyset(&mask);
    if (!options.pendingSignals.empty()) {
        sigaddset(&mask, SIGINT);
        sigaddset(&mask, SIGTERM);
        sigaddset(&mask, SIGHUP);
    }
    std::vector<int> defaults = {SIGTERM, SIGHUP, SIGPIPE};
    if (!options.keepIgnoredSigint) {
        defaults.push_back(SIGINT);
    }

    pid_ = fork();
    if (pid_ < 0) {
        throw std::runtime_error("fork");
    }
    if (pid_ == 0) {
        if (options.closeStandardOutput) {
            close(1);
        } else if (!outputFile.empty()) {
            int file = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (file < 0 || dup2(file, 1) != 1) {
                _exit(126);
            }
            close(file);
        } else {
            dup2(fds[1], 1);
        }
        dup2(errorFd_, 2);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) {
            _exit(126);
        }
        struct sigaction standard {};
        standard.sa_handler = SIG_DFL;
        sigemptyset(&standard.sa_mask);
        for (int signal : defaults) {
            sigaction(signal, &standard, nullptr);
        }
        sigprocmask(SIG_SETMASK, &mask, nullptr);
        for (int signal : options.pendingSignals) {
            kill(getpid(), signal); // blocked: stays pending across exec
        }
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(fds[1]);
    readFd_ = fds[0];
}

Vor32Process::~Vor32Process() {
    if (!reaped_ && pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (readFd_ >= 0) {
        close(readFd_);
    }
    if (errorFd_ >= 0) {
        close(errorFd_);
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

void Vor32Process::Signal(int signal) {
    kill(pid_, signal);
}

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
    std::string errors;
    char chunk[4096];
    ssize_t n;
    while ((n = pread(errorFd_, chunk, sizeof chunk, static_cast<off_t>(errors.size()))) > 0) {
        errors.append(chunk, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(errors, "") << "vor32 wrote to standard error";
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
