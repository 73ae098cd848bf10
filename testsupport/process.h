// A program started by a test: its arguments, working directory and environment, its standard
// output through a pipe read with a time limit (whole or line by line), its standard error in a
// file of its own, and its end with a time limit.
#ifndef ZEB_TESTSUPPORT_PROCESS_H
#define ZEB_TESTSUPPORT_PROCESS_H

#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace zebtest {

struct ProcessOptions {
    std::filesystem::path cwd;        // "" = the test's
    std::vector<std::string> env;     // "NAME=value", replacing the inherited settings of NAME
    std::vector<std::string> dropEnv; // inherited settings that start with one of these go
    bool input = false;               // a pipe to standard input (else /dev/null)
    // Start with SIGINT, SIGTERM and SIGHUP blocked and these signals already pending, so
    // that the program receives them as soon as it takes over their handling.
    std::vector<int> pendingSignals;
    bool keepIgnoredSigint = false; // leave an ignored SIGINT ignored in the program
    // Capacity of the output pipe (0 keeps the default); a small pipe that the test does not
    // read makes the program wait in the middle of its run.
    int pipeSize = 0;
    bool closeStandardOutput = false; // start with descriptor 1 closed (output not captured)
    std::filesystem::path outputFile; // standard output to this file, created or emptied
    bool errorsToOutput = false;      // standard error joins standard output (pipe or file)
    bool newSession = false;          // a session of its own, for a daemon that signals its group
    bool endWithParent = false;       // SIGTERM when the test process dies
    // A command that runs the program (nsenter ..., say): the program's path and arguments
    // follow the launcher's own. Its first entry is an absolute path.
    std::vector<std::string> launcher;
};

struct Outcome {
    bool exited = false; // ended by exit (else by a signal, or not at all)
    int code = -1;       // exit code, or the signal number when not exited
    std::string output;  // everything written to standard output
    std::string errors;  // everything written to standard error
    // The exit code; -1 when the program did not exit by itself.
    int Status() const { return exited ? code : -1; }
};

class Process {
  public:
    // argv[0] is looked up on the PATH when it has no slash.
    Process(const std::vector<std::string>& argv, const ProcessOptions& options = {});
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t Pid() const { return pid_; }
    // Everything read from standard output so far.
    const std::string& Output() const { return output_; }
    // Everything written to standard error so far.
    std::string Errors() const;

    // The next line of output, or "" at the time limit or at the end of output.
    std::string ReadLine(int timeoutMs = 30000);
    // Reads lines until one equal to wanted; false when it does not come in time.
    bool WaitForLine(const std::string& wanted, int timeoutMs = 30000);
    // Reads output until text has appeared in it; false on end of output or time-out.
    bool ReadUntil(std::string_view text, int timeoutMs = 30000);
    // Waits until the program sits in a write to its standard output that the full pipe
    // holds up; it can do nothing else meanwhile.
    bool WaitBlockedOnOutput(int timeoutMs = 30000);

    void Send(const std::string& line); // a line to standard input
    void CloseInput();
    void Signal(int signal);
    void Kill();
    // Closes standard input, reads to the end of output and waits for the end of the
    // program; kills it at the time limit.
    Outcome Finish(int timeoutMs = 120000);

  private:
    bool ReadSome(int timeoutMs);

    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string output_;
    std::size_t lineAt_ = 0; // where ReadLine goes on
};

// Whether the program ended by exit with code; when not, how it ended and its output.
::testing::AssertionResult ExitedWith(const Outcome& outcome, int code);

// A program's standard error joined to its standard output, with the settings env.
inline ProcessOptions JoinedOutput(std::vector<std::string> env = {}) {
    ProcessOptions options;
    options.env = std::move(env);
    options.errorsToOutput = true;
    return options;
}

// Runs to the end.
Outcome Run(const std::vector<std::string>& argv, const ProcessOptions& options = {},
            int timeoutMs = 120000);

// The bytes pid has read from files and sockets so far (rchar of /proc/PID/io); 0 once gone.
std::uint64_t BytesReadBy(pid_t pid);

// Runs words in the foreground, its output straight to ours, as a shell runs a command: its
// exit status, 128 + the signal that ended it, or 127 where it cannot be started.
int RunInForeground(std::vector<std::string> words);

} // namespace zebtest

#endif
