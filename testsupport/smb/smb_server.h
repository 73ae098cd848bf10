// A real SMB file server for the tests. Samba's smbd runs in a network namespace of its own
// (loopback only, port 445), with a private configuration and state under a scratch
// directory, serving one share on a fresh directory to the user root. The share is mounted
// through smbnetfs (FUSE) in a private mount namespace that lives as long as the server; the
// tests run their programs inside both namespaces, where the share is at SharePath().
#ifndef ZEBTEST_SMB_SMB_SERVER_H
#define ZEBTEST_SMB_SMB_SERVER_H

#include "files.h"
#include "netns.h"
#include "process.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace zebtest {

class SmbServer {
  public:
    // Starts the server and mounts its share. Returns nullptr with the reason in *whyNot where
    // this machine cannot (not root, no network namespaces, no FUSE, smbd or smbnetfs
    // missing), or where the server or the mount did not come up.
    static std::unique_ptr<SmbServer> Start(std::string* whyNot);
    ~SmbServer();
    SmbServer(const SmbServer&) = delete;
    SmbServer& operator=(const SmbServer&) = delete;

    // The share's directory as the server keeps it (the server's own copy of every file).
    const std::filesystem::path& BackingDirectory() const { return backing_; }
    // The share as mounted: valid only for the commands run through Launcher().
    const std::filesystem::path& SharePath() const { return share_; }
    // The command words that run a program in the namespaces where the share is mounted:
    // the program's path and arguments follow them. The first word is an absolute path.
    std::vector<std::string> Launcher() const;
    // Runs argv there.
    Outcome Run(const std::vector<std::string>& argv, int timeoutMs = 120000) const;

    // The password of the share's user root (the tests hand it to clients in PASSWD).
    static std::string Password();

    // The server's processes: those in smbd's session, the connections' processes among them.
    std::vector<pid_t> ServerPids() const;
    // The bytes they have read from files and sockets (rchar).
    std::uint64_t ServerBytesRead() const;

  private:
    SmbServer() = default;
    bool Begin(std::string* whyNot);
    void End();

    TempDir scratch_{"zebsmb"};
    std::filesystem::path backing_;
    std::filesystem::path mountPoint_;
    std::filesystem::path share_;
    std::string netns_;
    Namespaces namespaces_;
    std::unique_ptr<Process> smbd_;
    std::unique_ptr<Process> holder_; // keeps the mount namespace; smbnetfs runs in it
    bool mounted_ = false;
};

} // namespace zebtest

#endif
