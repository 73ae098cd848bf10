#include "fleet/client.h"

#include "url.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace zebcli::fleet {

namespace {

std::string MakeDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
        return path + ": " + std::strerror(errno);
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return path + ": not a directory";
    }
    return {};
}

} // namespace

std::string ClientPath(std::string_view path, std::uint32_t client) {
    const std::string number = std::to_string(client);
    std::string out;
    if (path.find(kClientMark) != std::string_view::npos) {
        std::string_view rest = path;
        for (std::size_t at; (at = rest.find(kClientMark)) != std::string_view::npos;) {
            out += rest.substr(0, at);
            out += number;
            rest.remove_prefix(at + std::strlen(kClientMark));
        }
        out += rest;
        return out;
    }
    // The extension of the file's own name, not a dot of a directory (or of an URL's host).
    const std::size_t slash = path.rfind('/');
    const std::size_t name = slash == std::string_view::npos ? 0 : slash + 1;
    const std::size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || dot <= name) {
        return std::string(path) + number;
    }
    return std::string(path.substr(0, dot)) + number + std::string(path.substr(dot));
}

std::string ClientPathRefusal(std::string_view path, const std::vector<std::uint32_t>& counts) {
    std::uint32_t most = 0;
    for (const std::uint32_t n : counts) {
        most = std::max(most, n);
    }
    std::string longest = ClientPath(path, most);
    if (url::SchemeOf(longest) == url::Scheme::Local && !longest.starts_with('/')) {
        char cwd[PATH_MAX];
        if (::getcwd(cwd, sizeof cwd) == nullptr) {
            return "the current directory cannot be named, for the clients' test files";
        }
        longest = std::string(cwd) + "/" + longest;
    }
    if (longest.size() > kMaxPathBytes) {
        return "client " + std::to_string(most) + "'s test file " + longest +
               " is longer than 200 bytes";
    }
    return {};
}

std::string ClientDirectory(const std::string& base, std::uint32_t client) {
    return base + "/client-" + std::to_string(client);
}

std::uint32_t SeedOffset(std::uint32_t client) {
    return client * 0x9E3779B9u; // 2^32 over the golden ratio: neighbours land far apart
}

Options ClientOptions(const Options& run, std::uint32_t client, const std::string& directory) {
    Options o = run;
    o.path = ClientPath(run.path, client);
    if (url::SchemeOf(o.path) == url::Scheme::Local && !o.path.starts_with('/')) {
        char cwd[PATH_MAX];
        if (::getcwd(cwd, sizeof cwd) != nullptr) {
            o.path = std::string(cwd) + "/" + o.path;
        }
    }
    o.clientCounts.clear();
    o.stopOnFailure = false;
    o.jsonPath = directory + "/" + kClientResults;
    o.csvPath.clear();
    o.plotPath.clear();
    o.reportPath.clear();
    o.seriesPath.clear();
    o.jsonStreamPath.clear();
    return o;
}

std::string PrepareClientDirectory(const std::string& directory) {
    const std::size_t slash = directory.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        if (std::string error = MakeDirectory(directory.substr(0, slash)); !error.empty()) {
            return error;
        }
    }
    // ctlogs/ too: the engine writes the compatibility log only where that folder is.
    for (const std::string& path : {directory, directory + "/" + kCompatLogFolder}) {
        if (std::string error = MakeDirectory(path); !error.empty()) {
            return error;
        }
    }
    const std::string results = directory + "/" + kClientResults;
    if (::unlink(results.c_str()) != 0 && errno != ENOENT) {
        return results + ": " + std::strerror(errno);
    }
    return {};
}

std::string EnterClientDirectory(const std::string& directory) {
    if (::chdir(directory.c_str()) != 0) {
        return directory + ": " + std::strerror(errno);
    }
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd) == nullptr || ::setenv("WINDIR", cwd, 1) != 0) {
        return directory + ": cannot be named for WINDIR";
    }
    return {};
}

} // namespace zebcli::fleet
