// Programs started by tests.
#include "process.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <set>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace zebtest {

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

std::string NameOf(const std::string& setting) {
    return setting.substr(0, setting.find('='));
}

// The program's environment: ours without what is dropped or set anew, then the settings
// given (the first of two settings of one name counts).
std::vector<std::string> Environment(const ProcessOptions& options) {
    std::vector<std::string> given; // the first setting of each name
    std::set<std::string> names;
    for (const std::string& e : options.env) {
        if (names.insert(NameOf(e)).second) {
            given.push_back(e);
        }
    }
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        auto dropped = [&](const std::string& prefix) { return entry.rfind(prefix, 0) == 0; };
        if (!names.contains(NameOf(entry)) &&
            std::none_of(options.dropEnv.begin(), options.dropEnv.end(), dropped)) {
            env.push_back(entry);
        }
    }
    env.insert(env.end(), given.begin(), given.end());
    return env;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> p;
    for (std::string& t : texts) {
        p.push_back(t.data());
    }
    p.push_back(nullptr);
    return p;
}

} // namespace

Process::Process(const std::vector<std::string>& argv, const ProcessOptions& options) {
    // A program that is gone makes a write to its input fail, not end the test.
    signal(SIGPIPE, SIG_IGN);
    int in[2] = {-1, -1};
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0 || (options.input && pipe2(in, O_CLOEXEC) != 0)) {
        throw std::runtime_error("pipe");
    }
    err_ =
        open(std::filesystem::temp_directory_path().c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (err_ < 0) {
        throw std::runtime_error("temporary file");
    }
    if (options.pipeSize > 0) {
        fcntl(out[1], F_SETPIPE_SZ, options.pipeSize);
    }
    // Everything the child needs is prepared before fork: after it only async-signal-safe
    // calls are made.
    std::vector<std::string> args = options.launcher;
    args.insert(args.end(), argv.begin(), argv.end());
    std::vector<std::string> env = Environment(options);
    std::vector<char*> a = Pointers(args);
    std::vector<char*> e = Pointers(env);
    const std::string cwd = options.cwd.string();
    const std::string outputFile = options.outputFile.string();
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
        if (options.newSession) {
            setsid();
        }
        if (options.endWithParent) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
        }
        dup2(options.input ? in[0] : open("/dev/null", O_RDONLY), 0);
        if (options.closeStandardOutput) {
            close(1);
        } else if (!outputFile.empty()) {
            int file = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (file < 0 || dup2(file, 1) != 1) {
                _exit(126);
            }
            close(file);
        } else {
            dup2(out[1], 1);
        }
        dup2(options.errorsToOutput ? 1 : err_, 2);
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
        execvpe(a[0], a.data(), e.data());
        _exit(127);
    }
    close(out[1]);
    out_ = out[0];
    if (options.input) {
        close(in[0]);
        in_ = in[1];
    }
}

Process::~Process() {
    CloseInput();
    Kill();
    if (out_ >= 0) {
        close(out_);
    }
    if (err_ >= 0) {
        close(err_);
    }
}

std::string Process::Errors() const {
    std::string errors;
    char chunk[4096];
    ssize_t n;
    while ((n = pread(err_, chunk, sizeof chunk, static_cast<off_t>(errors.size()))) > 0) {
        errors.append(chunk, static_cast<std::size_t>(n));
    }
    return errors;
}

bool Process::ReadSome(int timeoutMs) {
    pollfd entry{out_, POLLIN, 0};
    if (out_ < 0 || poll(&entry, 1, timeoutMs) <= 0) {
        return false;
    }
    char chunk[65536];
    ssize_t n = read(out_, chunk, sizeof chunk);
    if (n <= 0) {
        return false;
    }
    output_.append(chunk, static_cast<std::size_t>(n));
    return true;
}

std::string Process::ReadLine(int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        std::size_t nl = output_.find('\n', lineAt_);
        if (nl != std::string::npos) {
            std::string line = output_.substr(lineAt_, nl - lineAt_);
            lineAt_ = nl + 1;
            return line;
        }
        if (!ReadSome(RemainingMs(deadline))) {
            return "";
        }
    }
}

bool Process::WaitForLine(const std::string& wanted, int timeoutMs) {
    for (;;) {
        std::string line = ReadLine(timeoutMs);
        if (line == wanted) {
            return true;
        }
        if (line.empty()) {
            return false;
        }
    }
}

bool Process::ReadUntil(std::string_view text, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (output_.find(text) == std::string::npos) {
        if (!ReadSome(RemainingMs(deadline))) {
            return false;
        }
    }
    return true;
}

bool Process::WaitBlockedOnOutput(int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    // /proc/PID/syscall shows the call a sleeping process sits in: number, then arguments.
    const std::string blocked = std::to_string(SYS_write) + " 0x1 ";
    const std::string path = "/proc/" + std::to_string(pid_) + "/syscall";
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

void Process::Send(const std::string& line) {
    const std::string l = line + "\n";
    if (in_ < 0 || pid_ <= 0 || write(in_, l.data(), l.size()) < 0) {
        // The program is gone or takes no input: what it answers tells.
    }
}

void Process::CloseInput() {
    if (in_ >= 0) {
        close(in_);
        in_ = -1;
    }
}

void Process::Signal(int signal) {
    if (pid_ > 0) {
        kill(pid_, signal);
    }
}

void Process::Kill() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

Outcome Process::Finish(int timeoutMs) {
    CloseInput();
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (ReadSome(RemainingMs(deadline))) {
    }
    Outcome outcome;
    int status = 0;
    while (pid_ > 0 && waitpid(pid_, &status, WNOHANG) != pid_) {
        if (RemainingMs(deadline) == 0) {
            Kill(); // neither exited nor signalled by itself
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (pid_ > 0) {
        pid_ = -1;
        outcome.exited = WIFEXITED(status);
        outcome.code = outcome.exited ? WEXITSTATUS(status) : WTERMSIG(status);
    }
    outcome.output = output_;
    outcome.errors = Errors();
    return outcome;
}

::testing::AssertionResult ExitedWith(const Outcome& outcome, int code) {
    if (outcome.exited && outcome.code == code) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << (outcome.exited ? "exited with " : "did not exit; signal ") << outcome.code
           << ", expected exit " << code << "; output:\n"
           << outcome.output.substr(0, 2000);
}

Outcome Run(const std::vector<std::string>& argv, const ProcessOptions& options, int timeoutMs) {
    return Process(argv, options).Finish(timeoutMs);
}

std::uint64_t BytesReadBy(pid_t pid) {
    std::ifstream io("/proc/" + std::to_string(pid) + "/io");
    std::string key;
    std::uint64_t value = 0;
    while (io >> key >> value && key != "rchar:") {
    }
    return key == "rchar:" ? value : 0;
}

int RunInForeground(std::vector<std::string> words) {
    std::vector<char*> args = Pointers(words);
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        signal(SIGPIPE, SIG_DFL); // the servers' process helpers ignore it; the command must not
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) {
        return 127;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace zebtest
