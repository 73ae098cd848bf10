#include "subprocess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace zebtest {

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Forks and executes argv with its standard input and output as given (-1: /dev/null).
// Everything the child needs is prepared before the fork.
pid_t Launch(const std::vector<std::string>& argv, const std::vector<std::string>& env, int in,
             int out, bool newSession) {
    if (argv.empty()) {
        throw std::invalid_argument("empty command");
    }
    std::vector<std::string> args(argv);
    std::vector<char*> argp;
    for (std::string& arg : args) {
        argp.push_back(arg.data());
    }
    argp.push_back(nullptr);
    std::vector<std::string> added(env);
    std::vector<char*> envp;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        envp.push_back(*entry);
    }
    for (std::string& entry : added) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork");
    }
    if (pid == 0) {
        if (newSession) {
            setsid();
        }
        dup2(in >= 0 ? in : null, 0);
        dup2(out >= 0 ? out : null, 1);
        dup2(out >= 0 ? out : null, 2);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execvpe(argp[0], argp.data(), envp.data());
        _exit(127);
    }
    if (null >= 0) {
        close(null);
    }
    return pid;
}

bool ReadInto(int fd, std::string& text, int timeoutMs) {
    pollfd entry{fd, POLLIN, 0};
    if (poll(&entry, 1, timeoutMs) <= 0) {
        return false;
    }
    char chunk[4096];
    ssize_t n = read(fd, chunk, sizeof chunk);
    if (n <= 0) {
        return false;
    }
    text.append(chunk, static_cast<std::size_t>(n));
    return true;
}

// Waits for pid until the deadline; kills it then. Returns the wait status, or -1 when it had
// to be killed.
int WaitUntil(pid_t pid, Clock::time_point deadline) {
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) != pid) {
        if (RemainingMs(deadline) == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status;
}

} // namespace

CommandResult RunCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         int timeoutMs) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe");
    }
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    pid_t pid = Launch(argv, env, -1, fds[1], false);
    close(fds[1]);
    CommandResult result;
    while (ReadInto(fds[0], result.output, RemainingMs(deadline))) {
    }
    close(fds[0]);
    int status = WaitUntil(pid, deadline);
    if (status >= 0) {
        result.exited = WIFEXITED(status);
        result.code = result.exited ? WEXITSTATUS(status) : WTERMSIG(status);
    }
    return result;
}

BackgroundCommand::BackgroundCommand(const std::vector<std::string>& argv,
                                     const std::vector<std::string>& env, bool newSession,
                                     const std::string& outputFile) {
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe");
    }
    if (outputFile.empty()
            ? pipe2(out, O_CLOEXEC) != 0
            : (out[0] = -1, out[1] = open(outputFile.c_str(),
                                          O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600)) < 0) {
        close(in[0]);
        close(in[1]);
        throw std::runtime_error("output of " + argv.front());
    }
    pid_ = Launch(argv, env, in[0], out[1], newSession);
    close(in[0]);
    close(out[1]);
    input_ = in[1];
    output_fd_ = out[0];
}

BackgroundCommand::~BackgroundCommand() {
    Stop(SIGKILL, 5000);
    if (output_fd_ >= 0) {
        close(output_fd_);
    }
}

bool BackgroundCommand::ReadLine(std::string& line, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        std::size_t end = output_.find('\n', consumed_);
        if (end != std::string::npos) {
            line = output_.substr(consumed_, end - consumed_);
            consumed_ = end + 1;
            return true;
        }
        if (output_fd_ < 0 || !ReadInto(output_fd_, output_, RemainingMs(deadline))) {
            return false;
        }
    }
}

bool BackgroundCommand::Stop(int signal, int timeoutMs) {
    if (reaped_ || pid_ <= 0) {
        return true;
    }
    kill(pid_, signal);
    if (input_ >= 0) {
        close(input_);
        input_ = -1;
    }
    int status = WaitUntil(pid_, Clock::now() + std::chrono::milliseconds(timeoutMs));
    reaped_ = true;
    return status >= 0;
}

} // namespace zebtest
