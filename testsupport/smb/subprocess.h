// The few process helpers the SMB fixture needs: run a command to its end with its output,
// or start one that keeps running with a pipe on its standard input and output.
#ifndef ZEBTEST_SMB_SUBPROCESS_H
#define ZEBTEST_SMB_SUBPROCESS_H

#include <string>
#include <vector>

#include <sys/types.h>

namespace zebtest {

struct CommandResult {
    bool exited = false; // ended by exit within the time allowed
    int code = -1;       // exit code, or the signal number when not exited
    std::string output;  // standard output and standard error together
};

// Runs argv (argv[0] is looked up in PATH) with the "NAME=value" entries of env added to the
// environment, and waits at most timeoutMs for its end; a command still running then is
// killed. Standard input is /dev/null.
CommandResult RunCommand(const std::vector<std::string>& argv,
                         const std::vector<std::string>& env = {}, int timeoutMs = 60000);

// A command that stays running: its standard input is a pipe that Stop() shuts, its
// standard output and error a pipe read with ReadLine, or the file outputFile when one is
// named (for a chatty daemon that nobody reads). newSession runs it in a session of its own.
class BackgroundCommand {
  public:
    BackgroundCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                      bool newSession, const std::string& outputFile = {});
    ~BackgroundCommand();
    BackgroundCommand(const BackgroundCommand&) = delete;
    BackgroundCommand& operator=(const BackgroundCommand&) = delete;

    pid_t pid() const { return pid_; }
    // The next line of output (without its end), or false at the end of output or after
    // timeoutMs.
    bool ReadLine(std::string& line, int timeoutMs);
    // Everything read so far.
    const std::string& output() const { return output_; }
    // Signals the command (when still running), closes its input and waits up to timeoutMs
    // for its end, then kills it. Returns true when it ended by itself.
    bool Stop(int signal, int timeoutMs);

  private:
    pid_t pid_ = -1;
    int input_ = -1;
    int output_fd_ = -1;
    bool reaped_ = false;
    std::string output_;
    std::size_t consumed_ = 0;
};

} // namespace zebtest

#endif
