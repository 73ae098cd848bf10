// Runs one command against a real SMB share: starts the test SMB server, runs the command in
// the namespaces where its share is mounted, with SHARE naming the share's directory,
// SHARE_BACKING the server's own copy of it and PASSWD the password of its user root (in the
// environment, never on a command line), and takes the server down again.
//   smb_share_run COMMAND [ARGUMENT...]
// Exits with the command's status, or 77 (with the reason on standard error) when this
// machine cannot run the server.
#include "process.h"
#include "smb_server.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: smb_share_run COMMAND [ARGUMENT...]\n");
        return 2;
    }
    std::string whyNot;
    std::unique_ptr<zebtest::SmbServer> server =
        zebtest::SmbServer::Start(&whyNot, {.mount = true});
    if (!server) {
        std::fprintf(stderr, "smb_share_run: no SMB server: %s\n", whyNot.c_str());
        return 77;
    }
    setenv("PASSWD", zebtest::SmbServer::Password().c_str(), 1);
    std::vector<std::string> words = server->Launcher();
    words.insert(words.end(), {"env", "SHARE=" + server->SharePath().string(),
                               "SHARE_BACKING=" + server->BackingDirectory().string()});
    words.insert(words.end(), argv + 1, argv + argc);
    return zebtest::RunInForeground(std::move(words));
}
