// A real NFS file server for the tests: nfs-ganesha (VFS back end) in a network namespace of
// its own with only loopback up, serving NFSv4 on 127.0.0.1:2049 with one export of a fresh
// directory at the pseudo path /zeb. Its configuration, log, pid file and recovery state are
// under a scratch directory; it runs in the foreground in a session of its own.
#ifndef ZEBTEST_NFS_NFS_SERVER_H
#define ZEBTEST_NFS_NFS_SERVER_H

#include "files.h"
#include "netns.h"
#include "process.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace zebtest {

class NfsServer {
  public:
    // Starts the server. nullptr with the reason in *whyNot where this machine cannot (not
    // root, no network namespaces, ganesha missing) or where it did not come up.
    static std::unique_ptr<NfsServer> Start(std::string* whyNot);
    ~NfsServer();
    NfsServer(const NfsServer&) = delete;
    NfsServer& operator=(const NfsServer&) = delete;

    // The exported directory as the server keeps it.
    const std::filesystem::path& ExportDirectory() const { return export_; }
    // The command words that run a program in the server's network namespace.
    std::vector<std::string> Launcher() const;
    // The server's process (to stop or freeze it in a test).
    pid_t ServerPid() const;
    // The bytes the server has read from files and sockets (its rchar).
    std::uint64_t ServerBytesRead() const;

  private:
    NfsServer() = default;
    bool Begin(std::string* whyNot);

    TempDir scratch_{"zebnfs"};
    std::filesystem::path export_;
    std::string netns_;
    Namespaces namespaces_;
    std::unique_ptr<Process> ganesha_; // ended before the namespace goes
};

} // namespace zebtest

#endif
