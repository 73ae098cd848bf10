// The provider thread: one poll loop over the name-service sockets, the session listener and
// the accepted connections still waiting for their session request, which also runs the name
// server timers; and the socket helpers the modules share.
#include "nbstackinternal.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

namespace nb {

// ---------------------------------------------------------------------------------------
// Socket helpers

int OpenUdp(std::uint32_t address, std::uint16_t port, std::string& why) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        why = std::strerror(errno);
        return -1;
    }
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    sockaddr_in sa = SockAddr(address, port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        why =
            "UDP " + FormatIpv4(address) + ":" + std::to_string(port) + ": " + std::strerror(errno);
        close(fd);
        return -1;
    }
    return fd;
}

int OpenTcpListener(std::uint32_t address, std::uint16_t port, std::string& why) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        why = std::strerror(errno);
        return -1;
    }
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa = SockAddr(address, port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(fd, 32) != 0) {
        why =
            "TCP " + FormatIpv4(address) + ":" + std::to_string(port) + ": " + std::strerror(errno);
        close(fd);
        return -1;
    }
    return fd;
}

void SetBlocking(int fd) {
    int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) {
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
}

void SetSessionOptions(int fd, unsigned char rto, unsigned char sto) {
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    timeval r = HalfSeconds(rto);
    timeval s = HalfSeconds(sto);
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &r, sizeof r);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &s, sizeof s);
}

bool WriteAll(int fd, ByteSpan data, Clock::time_point deadline) {
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && Clock::now() < deadline) {
            pollfd p{fd, POLLOUT, 0};
            poll(&p, 1, 100);
            continue;
        }
        return false;
    }
    return true;
}

ReadResult ReadExactly(int fd, unsigned char* buffer, std::size_t size, std::size_t& got,
                       std::optional<Clock::time_point> deadline) {
    got = 0;
    while (got < size) {
        ssize_t n = recv(fd, buffer + got, size - got, MSG_WAITALL);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
            if (got < size && deadline && Clock::now() >= *deadline) {
                return ReadResult::TimedOut;
            }
            continue;
        }
        if (n == 0) {
            return ReadResult::Closed;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return ReadResult::TimedOut;
        }
        return ReadResult::Aborted;
    }
    return ReadResult::Ok;
}

// ---------------------------------------------------------------------------------------
// Provider thread

void Stack::Loop() {
    std::vector<pollfd> fds;
    enum class Kind { Wake, Udp, Tcp, HalfOpen, Unused };
    struct Slot {
        Kind kind;
        Lana* lana;
        HalfOpen* half;
        std::shared_ptr<Session> session; // Unused: a session of a deleted name, idle
    };
    std::vector<Slot> slots;
    while (!stopping_) {
        fds.clear();
        slots.clear();
        fds.push_back({wake_fd_, POLLIN, 0});
        slots.push_back({Kind::Wake, nullptr, nullptr, nullptr});
        int timeout = 1000;
        {
            std::lock_guard lock(mutex_);
            auto now = Clock::now();
            for (Lana& lana : lanas_) {
                if (!lana.installed) {
                    continue;
                }
                for (int fd : {lana.udp_fd, lana.bcast_fd}) {
                    if (fd >= 0) {
                        fds.push_back({fd, POLLIN, 0});
                        slots.push_back({Kind::Udp, &lana, nullptr, nullptr});
                    }
                }
                fds.push_back({lana.tcp_fd, POLLIN, 0});
                slots.push_back({Kind::Tcp, &lana, nullptr, nullptr});
                for (auto& h : lana.half_open) {
                    fds.push_back({h->fd, POLLIN, 0});
                    slots.push_back({Kind::HalfOpen, &lana, h.get(), nullptr});
                    auto left =
                        std::chrono::duration_cast<milliseconds>(h->deadline - now).count() + 1;
                    timeout = std::clamp(static_cast<int>(left), 0, timeout);
                }
                // Sessions of deleted names that nobody uses and that hold nothing unread:
                // watched for their peer's hang-up. One with data still to be read waits for
                // its receives (the last of them sees the hang-up) or for the idle timer.
                for (const auto& [lsn, s] : lana.sessions) {
                    if (s->busy == 0 && OfDeletedNameLocked(lana, *s) && !HoldsUnreadData(*s)) {
                        fds.push_back({s->fd, POLLRDHUP, 0});
                        slots.push_back({Kind::Unused, &lana, nullptr, s});
                    }
                }
            }
            for (auto due : {ServeServerTimersLocked(now), ServeReleasesLocked(now),
                             EndUnusedSessionsLocked(now)}) {
                if (due) {
                    auto left = std::chrono::duration_cast<milliseconds>(*due - now).count() + 1;
                    timeout = std::clamp(static_cast<int>(left), 0, timeout);
                }
            }
        }
        int n = poll(fds.data(), fds.size(), timeout);
        if (n < 0 && errno != EINTR) {
            break;
        }
        if (fds[0].revents != 0) {
            std::uint64_t v = 0;
            if (read(wake_fd_, &v, sizeof v) < 0) {
                // Nothing to drain.
            }
        }
        std::lock_guard lock(mutex_);
        std::vector<std::pair<Lana*, HalfOpen*>> finished;
        for (std::size_t i = 1; i < fds.size(); ++i) {
            const Slot& slot = slots[i];
            if (slot.kind == Kind::HalfOpen) {
                bool ready = fds[i].revents != 0;
                if ((ready && !ServeHalfOpen(*slot.lana, *slot.half)) ||
                    (!ready && Clock::now() >= slot.half->deadline)) {
                    finished.push_back({slot.lana, slot.half});
                }
                continue;
            }
            if (fds[i].revents == 0) {
                continue;
            }
            if (slot.kind == Kind::Unused) {
                // Its peer hung up, and nothing it sent waits to be read: the session ends,
                // and with it the deleted name; a receive on it still learns of the hang-up.
                auto it = slot.lana->sessions.find(slot.session->lsn);
                if (slot.session->busy == 0 && it != slot.lana->sessions.end() &&
                    it->second == slot.session && !HoldsUnreadData(*slot.session)) {
                    RemoveSessionLocked(*slot.lana, slot.session->lsn);
                    slot.lana->hung_up[slot.session->lsn] =
                        Clock::now() +
                        std::chrono::duration_cast<Clock::duration>(SSN_CLOSE_TIMEOUT);
                }
            } else if (slot.kind == Kind::Udp) {
                ServeNameSocket(*slot.lana, fds[i].fd);
            } else if (slot.kind == Kind::Tcp) {
                Accept(*slot.lana);
            }
        }
        for (auto [lana, half] : finished) {
            auto it = std::find_if(lana->half_open.begin(), lana->half_open.end(),
                                   [h = half](const auto& p) { return p.get() == h; });
            if (it != lana->half_open.end()) {
                if ((*it)->fd >= 0) {
                    close((*it)->fd);
                }
                lana->half_open.erase(it);
            }
        }
    }
}

void Stack::ServeNameSocket(Lana& lana, int fd) {
    for (int i = 0; i < 64; ++i) {
        unsigned char buffer[1500];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n =
            recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0) {
            return;
        }
        HandleNamePacket(lana, {buffer, static_cast<std::size_t>(n)}, from);
    }
}

} // namespace nb
