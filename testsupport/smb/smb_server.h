// A real SMB file server for the tests. Samba's smbd runs in a network namespace of its own
// (loopback only, port 445), with a private configuration and state under a scratch
// directory, serving one share on a fresh directory to two users: root, and a second user who
// is not the login user (the Samba user OtherUser(), who works on the server as the system
// user nobody). The tests run their programs in the server's namespace through Launcher().
// Where a test asks for it, the share is also mounted through smbnetfs (FUSE) in a private
// mount namespace that lives as long as the server, at SharePath(), and the namespace joins a
// test LAN (testsupport/hosts/), so that its hosts reach the share. A test can kill, freeze
// and restart the server in the middle of a pass.
#ifndef ZEBTEST_SMB_SMB_SERVER_H
#define ZEBTEST_SMB_SMB_SERVER_H

#include "files.h"
#include "netns.h"
#include "process.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace zebtest {

struct SmbServerOptions {
    bool mount = false; // the share mounted through smbnetfs (needs FUSE), at SharePath()
    // With the mount: smbnetfs mounted with -o kernel_cache, so that the kernel keeps the
    // pages of the share's files across opens, as the kernel's SMB and NFS clients do.
    bool kernelCache = false;
    // Where set, the server's namespace also joins this bridge (testsupport/hosts/) and smbd
    // listens on the port's address too, so that the LAN's hosts reach the share.
    std::optional<BridgePort> lan = std::nullopt;
};

class SmbServer {
  public:
    // Starts the server, and mounts its share where options ask. Returns nullptr with the
    // reason in *whyNot where this machine cannot (not root, no network namespaces, smbd
    // missing; for the mount no FUSE or smbnetfs), or where the server or the mount did not
    // come up.
    static std::unique_ptr<SmbServer> Start(std::string* whyNot, SmbServerOptions options = {});
    ~SmbServer();
    SmbServer(const SmbServer&) = delete;
    SmbServer& operator=(const SmbServer&) = delete;

    // The share's directory as the server keeps it (the server's own copy of every file).
    const std::filesystem::path& BackingDirectory() const { return backing_; }
    // The share as mounted: valid only with the mount, for the commands run through
    // Launcher().
    const std::filesystem::path& SharePath() const { return share_; }
    // The command words that run a program in the server's network namespace (and, with the
    // mount, in the mount namespace where the share is mounted): the program's path and
    // arguments follow them. The first word is an absolute path.
    std::vector<std::string> Launcher() const;
    // Runs argv there.
    Outcome Run(const std::vector<std::string>& argv, int timeoutMs = 120000) const;

    // The password of the share's user root (the tests hand it to clients in PASSWD).
    static std::string Password();
    // The share's second user: a Samba account of its own, mapped to the system user nobody,
    // so that what it makes on the share is owned by nobody.
    struct Account {
        std::string name;
        std::string password;
        std::string systemUser;
    };
    static Account OtherUser();

    // The server's processes: those in smbd's session, the connections' processes among them.
    std::vector<pid_t> ServerPids() const;
    // The bytes they have read from files and sockets (rchar), those of connections that have
    // ended included (once smbd has waited for their processes).
    std::uint64_t ServerBytesRead() const;

    // Faults for the tests. Kill: every process of the server killed (SIGKILL), nothing
    // listening any more. Stop and Continue: every process frozen (SIGSTOP) and woken again.
    // Restart: killed, then smbd started anew on the same address, configuration, users and
    // share; true once it listens, else false with the reason in *whyNot. The mount is not
    // remade.
    void Kill();
    void Stop();
    void Continue();
    bool Restart(std::string* whyNot);

  private:
    SmbServer() = default;
    bool Begin(std::string* whyNot, SmbServerOptions options);
    bool StartSmbd(std::string* whyNot);
    bool Mount(std::string* whyNot, bool kernelCache);
    void End();

    TempDir scratch_{"zebsmb"};
    std::filesystem::path conf_;
    std::filesystem::path backing_;
    std::filesystem::path mountPoint_;
    std::filesystem::path share_;
    std::string netns_;
    Namespaces namespaces_;
    std::unique_ptr<Process> smbd_;
    std::vector<pid_t> stopped_;
    std::unique_ptr<Process> holder_; // keeps the mount namespace; smbnetfs runs in it
    bool mounted_ = false;
};

} // namespace zebtest

#endif
