// The session service: the session table, calls (connect, session request, retarget),
// connections accepted by the provider thread that have yet to send their session request and
// the answer to it, and the data path of an established session, which runs outside the lock.
#include "nbstackinternal.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/uio.h>
#include <thread>
#include <unistd.h>

namespace nb {

// ---------------------------------------------------------------------------------------
// Sessions

std::optional<unsigned char> Stack::FreeLsnLocked(const Lana& lana) const {
    for (unsigned n = 1; n <= MAX_SESSIONS; ++n) {
        auto lsn = static_cast<unsigned char>(n);
        if (!lana.sessions.contains(lsn) && !lana.hung_up.contains(lsn)) {
            return lsn;
        }
    }
    return std::nullopt;
}

unsigned char Stack::GoneLocked(Lana& lana, unsigned char lsn) {
    auto it = lana.hung_up.find(lsn);
    if (it == lana.hung_up.end()) {
        return NRC_SNUMOUT;
    }
    lana.hung_up.erase(it);
    return NRC_SCLOSED;
}

std::shared_ptr<Session> Stack::FindSession(Lana& lana, unsigned char lsn) {
    std::lock_guard lock(mutex_);
    auto it = lana.sessions.find(lsn);
    return it == lana.sessions.end() ? nullptr : it->second;
}

void Stack::RemoveSessionLocked(Lana& lana, unsigned char lsn) {
    auto it = lana.sessions.find(lsn);
    if (it == lana.sessions.end()) {
        return;
    }
    std::shared_ptr<Session> s = it->second;
    lana.sessions.erase(it);
    s->closed = true;
    shutdown(s->fd, SHUT_RDWR); // wakes any receive still blocked on it
    // A name deleted while this session lived goes with its last session.
    bool still_used = std::any_of(lana.sessions.begin(), lana.sessions.end(),
                                  [&](const auto& o) { return o.second->local == s->local; });
    if (!still_used) {
        std::erase_if(lana.names,
                      [&](const NameEntry& e) { return e.name == s->local && e.deleted; });
    }
}

bool Stack::OfDeletedNameLocked(Lana& lana, const Session& s) {
    NameEntry* e = FindNameLocked(lana, s.local);
    return e != nullptr && e->deleted;
}

bool Stack::HoldsUnreadData(Session& s) {
    std::unique_lock io(s.recv_mutex, std::try_to_lock);
    if (!io.owns_lock()) {
        return true; // a receive is under way
    }
    int queued = 0;
    return s.PartReadLocked() || (ioctl(s.fd, FIONREAD, &queued) == 0 && queued > 0);
}

std::optional<Clock::time_point> Stack::EndUnusedSessionsLocked(Clock::time_point now) {
    std::optional<Clock::time_point> next;
    for (Lana& lana : lanas_) {
        std::erase_if(lana.hung_up, [&](const auto& h) { return now >= h.second; });
        std::vector<unsigned char> unused;
        for (const auto& [lsn, s] : lana.sessions) {
            if (s->busy > 0 || !OfDeletedNameLocked(lana, *s)) {
                continue;
            }
            Clock::time_point end = Clock::time_point(Clock::duration(s->last_used.load())) +
                                    std::chrono::duration_cast<Clock::duration>(SSN_CLOSE_TIMEOUT);
            // Data that came is dropped only once it has waited unread for as long.
            if (HoldsUnreadData(*s)) {
                s->unread_since = s->unread_since.value_or(now);
                end = std::max(end, *s->unread_since + std::chrono::duration_cast<Clock::duration>(
                                                           SSN_CLOSE_TIMEOUT));
            } else {
                s->unread_since.reset();
            }
            if (now >= end) {
                unused.push_back(lsn);
            } else if (!next || end < *next) {
                next = end;
            }
        }
        for (unsigned char lsn : unused) {
            RemoveSessionLocked(lana, lsn);
        }
    }
    return next;
}

void Stack::AbortSession(Lana& lana, const std::shared_ptr<Session>& s) {
    std::lock_guard lock(mutex_);
    auto it = lana.sessions.find(s->lsn);
    if (it != lana.sessions.end() && it->second == s) {
        RemoveSessionLocked(lana, s->lsn);
    }
}

// ---------------------------------------------------------------------------------------
// Calls, hang-ups, sends and receives

void Stack::AwaitCallPause(std::uint32_t address, std::uint16_t port) {
    std::optional<Clock::time_point> until;
    {
        std::lock_guard lock(mutex_);
        auto it = call_pauses_.find({address, port});
        if (it != call_pauses_.end()) {
            until = it->second.until;
        }
    }
    if (until) {
        std::this_thread::sleep_until(*until);
    }
}

void Stack::NoteCallRefused(std::uint32_t address, std::uint16_t port) {
    std::lock_guard lock(mutex_);
    auto now = Clock::now();
    std::erase_if(call_pauses_,
                  [&](const auto& p) { return now - p.second.until > CALL_PAUSE_FORGET; });
    auto it = call_pauses_.find({address, port});
    if (it == call_pauses_.end() && call_pauses_.size() >= MAX_CALL_PAUSES) {
        call_pauses_.erase(std::min_element(
            call_pauses_.begin(), call_pauses_.end(),
            [](const auto& a, const auto& b) { return a.second.until < b.second.until; }));
    }
    CallPause& p = call_pauses_[{address, port}];
    p.pause = p.pause.count() == 0 ? CALL_PAUSE_FIRST : std::min(2 * p.pause, CALL_PAUSE_MOST);
    p.until = now + p.pause;
}

void Stack::NoteCallAccepted(std::uint32_t address, std::uint16_t port) {
    std::lock_guard lock(mutex_);
    call_pauses_.erase({address, port});
}

unsigned char Stack::Connect(Lana& lana, std::uint32_t address, std::uint16_t port, NCB* ncb,
                             int& retarget_left, bool& reached) {
    reached = false;
    AwaitCallPause(address, port);
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return NRC_NORES;
    }
    auto fail = [fd](unsigned char code) {
        close(fd);
        return code;
    };
    sockaddr_in local = SockAddr(lana.binding.address, 0);
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        return fail(NRC_NORES);
    }
    sockaddr_in remote = SockAddr(address, port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
        int err = errno;
        if (err == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            socklen_t len = sizeof err;
            if (poll(&p, 1, static_cast<int>(CONNECT_TIMEOUT.count())) != 1 ||
                getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
                err = ETIMEDOUT;
            }
        }
        if (err != 0) {
            if (err == ECONNREFUSED) {
                NoteCallRefused(address, port); // a station there, nothing on its session port
            }
            return fail(NRC_NOCALL); // nobody there: no such station to call
        }
    }
    Name called = NameOf(ncb->ncb_callname);
    Name calling = NameOf(ncb->ncb_name);
    auto deadline = Clock::now() + SESSION_RESPONSE_TIMEOUT;
    if (!WriteAll(fd, BuildSessionRequest(Wire(called), Wire(calling)), deadline)) {
        return fail(NRC_NOCALL);
    }
    SessionPacketReader reader(16);
    for (;;) {
        auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) != 1) {
            return fail(NRC_CMDTMO);
        }
        unsigned char buffer[32];
        std::size_t want = std::min(reader.Wanted(), sizeof buffer);
        ssize_t n = recv(fd, buffer, want, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (n <= 0) {
            return fail(NRC_NOCALL);
        }
        std::size_t used = 0;
        auto status = reader.Feed({buffer, static_cast<std::size_t>(n)}, used);
        if (status == SessionPacketReader::Status::NeedMore) {
            continue;
        }
        if (status != SessionPacketReader::Status::Complete) {
            return fail(NRC_NOCALL);
        }
        unsigned char type = reader.Header().type;
        ByteSpan trailer = reader.Trailer();
        if (type == SESSION_KEEP_ALIVE) {
            reader.Reset();
            continue;
        }
        if (type == NEGATIVE_SESSION_RESPONSE) {
            NoteCallRefused(address, port);
            // Insufficient resources may pass; every other refusal means nobody listens.
            bool busy = trailer.size() == 1 && trailer[0] == SESSION_INSUFFICIENT_RESOURCES;
            reached = trailer.size() == 1 && trailer[0] != SESSION_CALLED_NOT_PRESENT;
            return fail(busy ? NRC_REMTFUL : NRC_NOCALL);
        }
        if (type == RETARGET_SESSION_RESPONSE && trailer.size() == 6 && retarget_left > 0) {
            --retarget_left;
            close(fd);
            std::uint32_t to = (std::uint32_t{trailer[0]} << 24) |
                               (std::uint32_t{trailer[1]} << 16) |
                               (std::uint32_t{trailer[2]} << 8) | trailer[3];
            std::uint16_t to_port = static_cast<std::uint16_t>((trailer[4] << 8) | trailer[5]);
            return Connect(lana, to, to_port, ncb, retarget_left, reached);
        }
        if (type != POSITIVE_SESSION_RESPONSE || !trailer.empty()) {
            return fail(NRC_NOCALL);
        }
        break;
    }
    reached = true;
    NoteCallAccepted(address, port);
    SetBlocking(fd);
    SetSessionOptions(fd, ncb->ncb_rto, ncb->ncb_sto);
    std::lock_guard lock(mutex_);
    std::optional<unsigned char> lsn = FreeLsnLocked(lana);
    if (!lsn) {
        return fail(NRC_LOCTFUL);
    }
    auto s = std::make_shared<Session>();
    s->fd = fd;
    s->lsn = *lsn;
    s->local = calling;
    s->remote = called;
    s->rto = ncb->ncb_rto;
    s->sto = ncb->ncb_sto;
    lana.sessions[*lsn] = s;
    ncb->ncb_lsn = *lsn;
    return NRC_GOODRET;
}

unsigned char Stack::Call(Lana& lana, NCB* ncb) {
    Name own = NameOf(ncb->ncb_name);
    {
        std::lock_guard lock(mutex_);
        NameEntry* e = FindNameLocked(lana, own);
        if (e == nullptr || !e->Active()) {
            return NRC_NOWILD;
        }
    }
    Name called = NameOf(ncb->ncb_callname);
    if (called[0] == '*' || called[0] == 0x00) {
        return NRC_NOCALL;
    }
    // A remembered address that no longer leads to the name is forgotten, and the name
    // searched for again.
    for (int attempt = 0;; ++attempt) {
        bool from_cache = false;
        std::optional<std::uint32_t> address = Resolve(lana, called, from_cache);
        if (!address) {
            return NRC_NOCALL;
        }
        int retargets = SSN_RETRY_COUNT;
        bool reached = false;
        unsigned char code = Connect(lana, *address, config_.session_port, ncb, retargets, reached);
        if (!reached) {
            ForgetName(called);
        }
        if (reached || !from_cache || attempt > 0) {
            return code;
        }
    }
}

unsigned char Stack::Hangup(Lana& lana, NCB* ncb) {
    std::lock_guard lock(mutex_);
    if (lana.sessions.find(ncb->ncb_lsn) == lana.sessions.end()) {
        return GoneLocked(lana, ncb->ncb_lsn);
    }
    RemoveSessionLocked(lana, ncb->ncb_lsn);
    return NRC_GOODRET;
}

unsigned char Stack::Send(Lana& lana, NCB* ncb) {
    std::shared_ptr<Session> s = FindSession(lana, ncb->ncb_lsn);
    if (!s) {
        std::lock_guard lock(mutex_);
        return GoneLocked(lana, ncb->ncb_lsn);
    }
    if (ncb->ncb_buffer == nullptr && ncb->ncb_length != 0) {
        return NRC_BUFLEN;
    }
    std::lock_guard io(s->send_mutex);
    SessionUse use(*s);
    // One session message: header and payload in one scatter-gather write, no copy.
    unsigned char header[SESSION_HEADER_SIZE];
    EncodeSessionHeader(SESSION_MESSAGE, ncb->ncb_length, header);
    iovec iov[2] = {{header, sizeof header}, {ncb->ncb_buffer, ncb->ncb_length}};
    msghdr msg{};
    msg.msg_iov = iov;
    msg.msg_iovlen = 2;
    std::size_t left = sizeof header + ncb->ncb_length;
    // The send time-out bounds the whole message. The socket's own time-out restarts with
    // every part it takes, so a link that stalls part-way would hold the send for several
    // time-outs: wait for room here instead, against one deadline.
    std::optional<Clock::time_point> deadline;
    if (s->sto != 0) {
        deadline = Clock::now() + milliseconds(500 * s->sto);
    }
    while (left > 0) {
        ssize_t n = sendmsg(s->fd, &msg, MSG_NOSIGNAL | (deadline ? MSG_DONTWAIT : 0));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && deadline) {
            auto wait = std::chrono::duration_cast<milliseconds>(*deadline - Clock::now()).count();
            if (wait > 0) {
                pollfd p{s->fd, POLLOUT, 0};
                poll(&p, 1, static_cast<int>(std::min<long long>(wait, 1000)));
                continue;
            }
        }
        if (n <= 0) {
            bool timed_out = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
            bool hung_up_here = s->closed;
            // Part of a message may be out: the stream cannot carry on.
            AbortSession(lana, s);
            return hung_up_here ? NRC_SCLOSED : timed_out ? NRC_CMDTMO : NRC_SABORT;
        }
        left -= static_cast<std::size_t>(n);
        std::size_t done = static_cast<std::size_t>(n);
        while (msg.msg_iovlen > 0 && done >= msg.msg_iov[0].iov_len) {
            done -= msg.msg_iov[0].iov_len;
            ++msg.msg_iov;
            --msg.msg_iovlen;
        }
        if (msg.msg_iovlen > 0) {
            msg.msg_iov[0].iov_base = static_cast<unsigned char*>(msg.msg_iov[0].iov_base) + done;
            msg.msg_iov[0].iov_len -= done;
        }
    }
    return NRC_GOODRET;
}

unsigned char Stack::Receive(Lana& lana, NCB* ncb) {
    std::size_t capacity = ncb->ncb_length;
    ncb->ncb_length = 0; // what a receive delivers; nothing on every error before data
    std::shared_ptr<Session> s = FindSession(lana, ncb->ncb_lsn);
    if (!s) {
        std::lock_guard lock(mutex_);
        return GoneLocked(lana, ncb->ncb_lsn);
    }
    if (ncb->ncb_buffer == nullptr && capacity != 0) {
        return NRC_BUFLEN;
    }
    std::lock_guard io(s->recv_mutex);
    SessionUse use(*s);
    std::optional<Clock::time_point> deadline;
    if (s->rto != 0) {
        deadline = Clock::now() + milliseconds(500 * s->rto);
    }
    std::size_t got = 0;
    if (s->remaining == 0 && s->held.empty()) {
        // Next message; keep-alives in between are dropped.
        for (;;) {
            unsigned char header[SESSION_HEADER_SIZE];
            std::size_t early = s->ahead_size; // read with the message before
            std::memcpy(header, s->ahead, early);
            s->ahead_size = 0;
            ReadResult r = ReadExactly(s->fd, header + early, sizeof header - early, got, deadline);
            got += early;
            if (r == ReadResult::TimedOut) {
                // The session stays up, and the part of the header that came stays with it.
                std::memcpy(s->ahead, header, got);
                s->ahead_size = got;
                return NRC_CMDTMO;
            }
            if (r == ReadResult::Closed && got == 0) {
                AbortSession(lana, s);
                return NRC_SCLOSED;
            }
            if (r != ReadResult::Ok) {
                AbortSession(lana, s);
                return NRC_SABORT;
            }
            SessionHeader h;
            if (!DecodeSessionHeader(header, h)) {
                AbortSession(lana, s);
                return NRC_SABORT;
            }
            if (h.type == SESSION_KEEP_ALIVE && h.length == 0) {
                continue;
            }
            if (h.type != SESSION_MESSAGE) {
                AbortSession(lana, s);
                return NRC_SABORT;
            }
            s->remaining = h.length;
            break;
        }
    }
    // What this receive delivers: the bytes an earlier receive took before it timed out, then
    // the rest from the socket, as far as the buffer takes them.
    std::size_t take = std::min<std::size_t>(s->held.size() + s->remaining, capacity);
    std::size_t from_held = std::min(s->held.size(), take);
    if (from_held > 0) {
        std::memcpy(ncb->ncb_buffer, s->held.data(), from_held);
    }
    unsigned char* to = ncb->ncb_buffer + from_held;
    std::size_t want = take - from_held;
    // A receive that ends its message takes what is already there of the next header in the
    // same call: while messages queue up, one system call per message instead of two.
    std::size_t early = 0;
    if (want > 0 && want == s->remaining) {
        iovec parts[2] = {{to, want}, {s->ahead, sizeof s->ahead}};
        msghdr msg{};
        msg.msg_iov = parts;
        msg.msg_iovlen = 2;
        ssize_t n = recvmsg(s->fd, &msg, MSG_DONTWAIT);
        if (n > 0) {
            early = std::min(static_cast<std::size_t>(n), want);
            s->ahead_size = static_cast<std::size_t>(n) - early;
        }
        // Nothing there yet, the end of the stream or an error: the read below meets it.
    }
    ReadResult r = ReadExactly(s->fd, to + early, want - early, got, deadline);
    got += early;
    if (r == ReadResult::TimedOut) {
        // The message goes on after the time-out: the bytes taken so far are kept for the
        // next receive, which delivers the message from its start. Nothing is delivered now.
        s->held.insert(s->held.end(), to, to + got);
        s->remaining -= static_cast<std::uint32_t>(got);
        return NRC_CMDTMO;
    }
    if (r != ReadResult::Ok) {
        // Mid-message: the rest can no longer be told apart from the next message.
        ncb->ncb_length = static_cast<unsigned short>(from_held + got);
        AbortSession(lana, s);
        return NRC_SABORT;
    }
    s->held.erase(s->held.begin(), s->held.begin() + static_cast<std::ptrdiff_t>(from_held));
    s->remaining -= static_cast<std::uint32_t>(want);
    ncb->ncb_length = static_cast<unsigned short>(take);
    return s->remaining > 0 || !s->held.empty() ? NRC_INCOMP : NRC_GOODRET;
}

// ---------------------------------------------------------------------------------------
// Incoming connections

void Stack::Accept(Lana& lana) {
    for (;;) {
        int fd = accept4(lana.tcp_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            return;
        }
        auto h = std::make_unique<HalfOpen>();
        h->fd = fd;
        h->deadline = Clock::now() + SESSION_REQUEST_TIMEOUT;
        // A caller sends its session request right behind its connection: answer it at once
        // when it is there.
        if (!ServeHalfOpen(lana, *h)) {
            if (h->fd >= 0) {
                close(h->fd);
            }
            continue;
        }
        // Too many connections that have not said who they are: the oldest, which has had
        // the longest time to speak, goes. Refusing the newest instead would let a handful of
        // silent connections shut every caller out for the whole wait. The entry stays until
        // the provider loop removes it, as the loop may still hold it.
        std::size_t waiting = 0;
        HalfOpen* oldest = nullptr;
        for (auto& other : lana.half_open) {
            if (other->fd >= 0) {
                ++waiting;
                oldest = oldest == nullptr ? other.get() : oldest;
            }
        }
        if (waiting >= MAX_HALF_OPEN) {
            close(oldest->fd);
            oldest->fd = -1;
            oldest->deadline = Clock::now();
        }
        lana.half_open.push_back(std::move(h));
    }
}

bool Stack::ServeHalfOpen(Lana& lana, HalfOpen& h) {
    if (h.fd < 0) {
        return false; // dropped to make room
    }
    unsigned char buffer[MAX_SESSION_REQUEST_TRAILER + SESSION_HEADER_SIZE];
    std::size_t want = std::min(h.reader.Wanted(), sizeof buffer);
    ssize_t n = recv(h.fd, buffer, want, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        return true;
    }
    if (n <= 0) {
        return false;
    }
    std::size_t used = 0;
    auto status = h.reader.Feed({buffer, static_cast<std::size_t>(n)}, used);
    if (status == SessionPacketReader::Status::NeedMore) {
        return true;
    }
    if (status != SessionPacketReader::Status::Complete) {
        return false;
    }
    if (h.reader.Header().type == SESSION_KEEP_ALIVE) {
        h.reader.Reset();
        return true;
    }
    WireName called;
    WireName calling;
    if (h.reader.Header().type != SESSION_REQUEST ||
        !ParseSessionRequest(h.reader.Trailer(), called, calling)) {
        return false;
    }
    AnswerSessionRequest(lana, h, called, calling);
    return false;
}

void Stack::AnswerSessionRequest(Lana& lana, HalfOpen& h, const WireName& called,
                                 const WireName& calling) {
    auto refuse = [&](std::uint8_t code) {
        Bytes r = BuildNegativeSessionResponse(code);
        send(h.fd, r.data(), r.size(), MSG_NOSIGNAL);
    };
    NameEntry* e = FindNameLocked(lana, called.name);
    if (e == nullptr || !e->Active() || !called.scope.empty()) {
        return refuse(SESSION_CALLED_NOT_PRESENT);
    }
    Listen* match = nullptr;
    bool any = false;
    for (Listen* l : lana.listens) {
        if (l->name != called.name) {
            continue;
        }
        any = true;
        if (l->callname[0] == '*' || l->callname == calling.name) {
            match = l;
            break;
        }
    }
    if (match == nullptr) {
        return refuse(any ? SESSION_NOT_LISTENING_FOR_CALLING : SESSION_NOT_LISTENING_ON_CALLED);
    }
    std::optional<unsigned char> lsn = FreeLsnLocked(lana);
    if (!lsn) {
        return refuse(SESSION_INSUFFICIENT_RESOURCES);
    }
    Bytes ok = BuildPositiveSessionResponse();
    if (send(h.fd, ok.data(), ok.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(ok.size())) {
        return;
    }
    SetBlocking(h.fd);
    SetSessionOptions(h.fd, match->rto, match->sto);
    auto s = std::make_shared<Session>();
    s->fd = h.fd;
    h.fd = -1; // the session owns it now
    s->lsn = *lsn;
    s->local = called.name;
    s->remote = calling.name;
    s->rto = match->rto;
    s->sto = match->sto;
    lana.sessions[*lsn] = s;
    NCB* ncb = match->ncb;
    ncb->ncb_lsn = *lsn;
    std::memcpy(ncb->ncb_callname, calling.name.data(), NCBNAMSZ);
    EndListenLocked(lana, match, NRC_GOODRET);
}

} // namespace nb
