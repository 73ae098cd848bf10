// Runs one command beside a real NFS server: starts the test NFS server, runs the command
// with NFS_LAUNCHER holding the words that run a program in the server's namespace and
// NFS_EXPORT the server's own copy of the export, and takes the server down again.
//   nfs_export_run COMMAND [ARGUMENT...]
// Exits with the command's status, or 77 (with the reason on standard error) when this
// machine cannot run the server.
#include "nfs_server.h"
#include "process.h"

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: nfs_export_run COMMAND [ARGUMENT...]\n");
        return 2;
    }
    std::string whyNot;
    std::unique_ptr<zebtest::NfsServer> server = zebtest::NfsServer::Start(&whyNot);
    if (!server) {
        std::fprintf(stderr, "nfs_export_run: no NFS server: %s\n", whyNot.c_str());
        return 77;
    }
    std::string launcher;
    for (const std::string& word : server->Launcher()) {
        launcher += (launcher.empty() ? "" : " ") + word;
    }
    std::vector<std::string> words = {"env", "NFS_LAUNCHER=" + launcher,
                                      "NFS_EXPORT=" + server->ExportDirectory().string()};
    words.insert(words.end(), argv + 1, argv + argc);
    return zebtest::RunInForeground(std::move(words));
}
