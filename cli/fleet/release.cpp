#include "fleet/release.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

namespace zebcli::fleet {

namespace {

bool WriteLine(int fd, const std::string& line) {
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// One line from fd, byte by byte (the parent sends nothing after a line before the next
// question), within bound; empty on a time-out, an end or a line too long.
std::string ReadLine(int fd, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    std::string line;
    while (line.size() < kMaxControlLine) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return {};
        }
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return {};
        }
        char c = 0;
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return {};
        }
        line += c;
        if (c == '\n') {
            return line;
        }
    }
    return {};
}

} // namespace

bool PipeRelease::Prepared(std::size_t round) {
    if (!WriteLine(m_toParent, std::string(kReadyWord) + " " + std::to_string(round) + "\n")) {
        return false;
    }
    return ReadLine(m_fromParent, m_bound) == kGoLine;
}

void PipeRelease::Ended(std::size_t round, bool passed) {
    WriteLine(m_toParent, std::string(kEndedWord) + " " + std::to_string(round) +
                              (passed ? " passed\n" : " failed\n"));
}

} // namespace zebcli::fleet
