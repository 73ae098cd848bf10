// A real NFS file server for the tests: nfs-ganesha (VFS back end) in a network namespace of
// its own with only loopback up, serving NFSv4 on 127.0.0.1:2049 with one export of a fresh
// directory at the pseudo path /zeb. Its configuration, log, pid file and recovery state are
// under a scratch directory; it runs in the foreground in a session of its own, without a
// grace period, and counts as up only once a client has mounted its export. A test can kill,
// freeze and restart it in the middle of a pass.
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
    // root, no network namespaces, ganesha missing), or where it did not come up or exports
    // nothing a client can mount (as in a chroot, where ganesha finds no file system for the
    // exported directory).
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

    // Faults for the tests. Kill: the server killed (SIGKILL), nothing listening any more.
    // Stop and Continue: frozen (SIGSTOP) and woken again. Restart: killed, then started anew
    // on the same address, configuration, export and recovery state; true once its export
    // mounts, else false with the reason in *whyNot.
    void Kill();
    void Stop();
    void Continue();
    bool Restart(std::string* whyNot);

  private:
    NfsServer() = default;
    bool Begin(std::string* whyNot);
    bool StartGanesha(std::string* whyNot);
    // "" once a client mounted the export from inside the namespace, else libnfs's words.
    std::string MountExport() const;

    TempDir scratch_{"zebnfs"};
    std::filesystem::path export_;
    std::string netns_;
    Namespaces namespaces_;
    std::unique_ptr<Process> ganesha_; // ended before the namespace goes
};

} // namespace zebtest

#endif
