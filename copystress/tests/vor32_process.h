// Runs the real vor32 binary as a user would: arguments, a working directory, its standard
// output through a pipe, its exit status; and the means to stop it at a known point.
#ifndef VOR32_TESTS_PROCESS_H
#define VOR32_TESTS_PROCESS_H

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

namespace vor32_test {

struct Outcome {
    bool exited = false; // ended by exit (else by a signal, or not at all)
    int code = -1;       // exit code, or the signal number when not exited
    std::string output;  // everything written to standard output
};

struct SpawnOptions {
    std::filesystem::path cwd;
    // Start with SIGINT, SIGTERM and SIGHUP blocked and these signals already pending, so
    // that the program receives them as soon as it takes over their handling.
    std::vector<int> pendingSignals;
    // Capacity of the output pipe (0 keeps the default); a small pipe that the test does not
    // read makes the program wait in the middle of its run.
    int pipeSize = 0;
    bool closeStandardOutput = false;     // start with descriptor 1 closed (output not captured)
    std::filesystem::path outputFile;     // standard output to this file, created or emptied
    bool keepIgnoredSigint = false;       // leave an ignored SIGINT ignored in the program
    std::vector<std::string> environment; // "NAME=value" entries added to the program's
    // A command that runs the program (its path and arguments follow the launcher's own);
    // the first entry is an absolute path.
    std::vector<std::string> launcher;
};

class Vor32Process {
  public:
    Vor32Process(const std::vector<std::string>& args, const SpawnOptions& options);
    ~Vor32Process();
    Vor32Process(const Vor32Process&) = delete;
    Vor32Process& operator=(const Vor32Process&) = delete;

    pid_t pid() const { return pid_; }
    const std::string& output() const { return output_; }

    // Reads output until text has appeared in it; false on end of output or time-out.
    bool ReadUntil(std::string_view text, int timeoutMs = 30000);
    // Waits until the program sits in a write to its standard output that the full pipe
    // holds up; it can do nothing else meanwhile.
    bool WaitBlockedOnOutput(int timeoutMs = 30000);
    void Signal(int signal);
    // Reads to the end of output and waits for the end of the program. The program never
    // writes to standard error: anything there (a sanitizer's report, say) fails the test.
    Outcome Finish(int timeoutMs = 120000);

  private:
    bool ReadSome(int timeoutMs);

    pid_t pid_ = -1;
    int readFd_ = -1;
    int errorFd_ = -1; // the program's standard error, a temporary file
    bool reaped_ = false;
    std::string output_;
};

// Runs to the end.
Outcome RunVor32(const std::vector<std::string>& args, const std::filesystem::path& cwd);

} // namespace vor32_test

#endif
