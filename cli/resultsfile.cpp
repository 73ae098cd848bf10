#include "resultsfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace zebcli {

namespace fs = std::filesystem;

namespace {

// The directory that holds path ("." for a bare name) and the name in it (empty when path
// ends in a slash).
struct Place {
    std::string directory;
    std::string name;
};

Place PlaceOf(const std::string& path) {
    const fs::path p(path);
    const std::string directory = p.parent_path().string();
    return {directory.empty() ? "." : directory, p.filename().string()};
}

const char* Kind(mode_t mode) {
    if (S_ISLNK(mode)) {
        return "a symbolic link";
    }
    if (S_ISDIR(mode)) {
        return "a directory";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "a device";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    return S_ISSOCK(mode) ? "a socket" : "not a regular file";
}

std::string NotRegular(mode_t mode) {
    return std::string("is ") + Kind(mode) +
           ": results replace only a regular file, or make a new one";
}

// The template of a temporary file beside the target, for mkostemp: hidden, and short enough
// for any file system.
std::string TemporaryName(const Place& place) {
    return place.directory + "/." + place.name.substr(0, 200) + ".XXXXXX";
}

// The process's umask, read without changing it (umask(2) would, for a moment, for every
// thread); the usual 022 where /proc does not say.
mode_t CurrentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("Umask:")) {
            return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
        }
    }
    return 022;
}

// Renames the temporary file over path if path is a regular file or none, and syncs the
// directory; an error text, empty on success (the temporary file is gone either way).
std::string Replace(const std::string& temporary, const std::string& path);

} // namespace

std::string ResultsPathRefusal(const std::string& path) {
    const Place place = PlaceOf(path);
    if (place.name.empty() || place.name == "." || place.name == "..") {
        return "names a directory, not a file";
    }
    struct stat dir {};
    if (::stat(place.directory.c_str(), &dir) != 0) {
        return errno == ENOENT ? "its directory " + place.directory + " does not exist"
                               : "its directory " + place.directory +
                                     " cannot be reached: " + std::strerror(errno);
    }
    if (!S_ISDIR(dir.st_mode)) {
        return place.directory + " is not a directory";
    }
    // Only a file made there shows that the directory takes one (root passes every permission
    // check, and some file systems refuse what the permissions allow).
    std::string trial = TemporaryName(place);
    const int fd = ::mkostemp(trial.data(), O_CLOEXEC);
    if (fd < 0) {
        return "its directory " + place.directory + " cannot be written: " + std::strerror(errno);
    }
    ::close(fd);
    ::unlink(trial.c_str());
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        return errno == ENOENT ? "" : std::string("cannot be looked at: ") + std::strerror(errno);
    }
    if (!S_ISREG(st.st_mode)) {
        return NotRegular(st.st_mode);
    }
    // In a sticky directory (/tmp) only the file's owner, the directory's or root may replace it.
    const uid_t me = ::geteuid();
    if ((dir.st_mode & S_ISVTX) != 0 && me != 0 && st.st_uid != me && dir.st_uid != me) {
        return "belongs to another user in a sticky directory: it cannot be replaced";
    }
    return "";
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    const fs::path left = fs::absolute(a, error).lexically_normal();
    const fs::path right = fs::absolute(b, error).lexically_normal();
    if (left == right) {
        return true;
    }
    const Place one = PlaceOf(a);
    const Place other = PlaceOf(b);
    struct stat x {};
    struct stat y {};
    return one.name == other.name && ::stat(one.directory.c_str(), &x) == 0 &&
           ::stat(other.directory.c_str(), &y) == 0 && x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

std::string WriteAll(int fd, std::string_view text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return std::strerror(n < 0 ? errno : ENOSPC);
        }
        done += static_cast<std::size_t>(n);
    }
    return "";
}

std::string WriteWholeFile(const std::string& path, std::string_view text) {
    const Place place = PlaceOf(path);
    std::string temporary = TemporaryName(place);
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return "cannot create a temporary file in " + place.directory + ": " + std::strerror(errno);
    }
    std::string error;
    if (::fchmod(fd, 0666 & ~CurrentUmask()) != 0) {
        error = std::strerror(errno);
    }
    if (error.empty()) {
        error = WriteAll(fd, text);
    }
    if (error.empty() && ::fsync(fd) != 0) {
        error = std::strerror(errno);
    }
    if (::close(fd) != 0 && error.empty()) {
        error = std::strerror(errno);
    }
    if (!error.empty()) {
        ::unlink(temporary.c_str());
        return "cannot write " + temporary + ": " + error;
    }
    return Replace(temporary, path);
}

std::string OpenStreamFile(const std::string& path, int& fd) {
    const Place place = PlaceOf(path);
    std::string temporary = TemporaryName(place);
    fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return "cannot create a temporary file in " + place.directory + ": " + std::strerror(errno);
    }
    std::string error;
    if (::fchmod(fd, 0666 & ~CurrentUmask()) != 0) {
        error = "cannot write " + temporary + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
    } else {
        error = Replace(temporary, path);
    }
    if (!error.empty()) {
        ::close(fd);
        fd = -1;
    }
    return error;
}

namespace {

std::string Replace(const std::string& temporary, const std::string& path) {
    const Place place = PlaceOf(path);
    // Whatever came to the path during the run is replaced only if it is a regular file. (The
    // rename itself replaces the name, never what a link there points to.)
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        ::unlink(temporary.c_str());
        return path + " " + NotRegular(st.st_mode) + " (it became one during the run)";
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        const int failure = errno;
        ::unlink(temporary.c_str());
        return "cannot rename " + temporary + " to " + path + ": " + std::strerror(failure);
    }
    // The new name on disk too, so that a crash leaves the old file or the new one.
    if (const int dir = ::open(place.directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return "";
}

} // namespace

int DivertStandardOutput() {
    std::fflush(stdout);
    const int document = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (document < 0) {
        return -1;
    }
    if (::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        const int error = errno;
        ::close(document);
        errno = error;
        return -1;
    }
    return document;
}

} // namespace zebcli
