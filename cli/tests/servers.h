// The test servers as zebcli's server tests see them: smbd and nfs-ganesha, each started once
// per test program in a network namespace of its own, described alike so that the same cases
// run through both.
#ifndef ZEBCLI_TESTS_SERVERS_H
#define ZEBCLI_TESTS_SERVERS_H

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace zebcli_test {

struct Server {
    std::string backend; // "smb" or "nfs"
    std::string url;     // of the test file T.TST
    std::string ipv6Url; // the same through the server's IPv6 loopback address
    // URLs of W.TST (or a name like it) refused at the open, each with the cause it names on
    // standard error: a wrong password (the first row's), an unknown host, a port where
    // nothing listens, a missing export, a name the server refuses or that SMB cannot carry.
    std::vector<std::pair<std::string, std::string>> refused;
    std::filesystem::path backing; // the server's own copy of the files
    std::vector<std::string> launcher;
    std::function<std::uint64_t()> bytesRead;
    // The faults (testsupport's Kill, Stop, Continue and Restart of the server).
    std::function<void()> kill, stop, resume;
    std::function<bool(std::string*)> restart;
};

// The server of backend ("smb" or "nfs"), started on first use; nullopt with the reason where
// it cannot run here.
std::optional<Server> Started(const std::string& backend, std::string* whyNot);
// Takes both down.
void EndServers();

} // namespace zebcli_test

#endif
