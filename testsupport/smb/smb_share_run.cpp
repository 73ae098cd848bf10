// Runs one command against a real SMB share: starts the test SMB server, runs the command in
// the namespaces where its share is mounted, with SHARE naming the share's directory and
// SHARE_BACKING the server's own copy of it, and takes the server down again.
//   smb_share_run COMMAND [ARGUMENT...]
// Exits with the command's status, or 77 (with the reason on standard error) when this
// machine cannot run the server.
#include "smb_server.h"

#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: smb_share_run COMMAND [ARGUMENT...]\n");
        return 2;
    }
    std::string whyNot;
    std::unique_ptr<zebtest::SmbServer> server = zebtest::SmbServer::Start(&whyNot);
    if (!server) {
        std::fprintf(stderr, "smb_share_run: no SMB server: %s\n", whyNot.c_str());
        return 77;
    }
    std::vector<std::string> words = server->Launcher();
    words.push_back("env");
    words.push_back("SHARE=" + server->SharePath().string());
    words.push_back("SHARE_BACKING=" + server->BackingDirectory().string());
    words.insert(words.end(), argv + 1, argv + argc);
    std::vector<char*> args;
    for (std::string& word : words) {
        args.push_back(word.data());
    }
    args.push_back(nullptr);
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        signal(SIGPIPE, SIG_DFL); // the server's process helpers ignore it; the command must not
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) {
        return 1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
