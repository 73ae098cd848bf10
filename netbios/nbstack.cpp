// The NetBIOS stack over TCP/IP (RFC 1001 / RFC 1002): a B-node, or with a name server a
// P-node or H-node (names registered, refreshed, released and found through the server; see
// nbwins.h).
//
// Synchronous commands run on the caller's thread: name registration broadcasts and waits
// for objections, a call resolves the name and connects, sends and receives move data
// straight between the caller's buffer and the session's TCP socket. The provider thread
// serves everything that arrives unasked: name-service packets (defence, queries, answers
// to our own requests), incoming connections and their session requests, which complete
// outstanding listens. One mutex guards the tables; socket I/O of an established session
// happens outside it.
#include "nbstack.h"

#include "nbcodec.h"
#include "nbconfig.h"
#include "nbsession.h"
#include "nbwins.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <random>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace nb {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// RFC 1002 B-node timers.
constexpr milliseconds BCAST_REQ_RETRY_TIMEOUT{250};
constexpr int BCAST_REQ_RETRY_COUNT = 3;
constexpr int SSN_RETRY_COUNT = 4;
// A connection that has not sent its session request by then is closed.
constexpr milliseconds SESSION_REQUEST_TIMEOUT{5000};
// Bound on accepted connections still waiting for their session request, per LANA.
constexpr std::size_t MAX_HALF_OPEN = 16;
constexpr milliseconds CONNECT_TIMEOUT{5000};
constexpr milliseconds SESSION_RESPONSE_TIMEOUT{10000};
constexpr unsigned MAX_NAMES = 254;
constexpr unsigned MAX_SESSIONS = 254;

void Complete(NCB* ncb, unsigned char code) {
    ncb->ncb_retcode = code;
    std::atomic_ref<unsigned char>(ncb->ncb_cmd_cplt).store(code, std::memory_order_release);
}

Name NameOf(const unsigned char* field) {
    Name n;
    std::memcpy(n.data(), field, n.size());
    return n;
}

WireName Wire(const Name& name) {
    return WireName{name, {}};
}

sockaddr_in SockAddr(std::uint32_t address, std::uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(address);
    sa.sin_port = htons(port);
    return sa;
}

timeval HalfSeconds(unsigned char units) {
    timeval tv{};
    tv.tv_sec = units / 2;
    tv.tv_usec = (units % 2) * 500000;
    return tv;
}

struct NameEntry {
    Name name{};
    unsigned char number = 0;
    bool group = false;
    bool registering = true; // registration broadcasts still under way
    bool refused = false;    // another node objected during registration
    bool deleted = false;    // deleted while sessions remained; removed with the last one
    bool conflict = false;   // a name conflict demand arrived, or the server took it back
    std::uint16_t trn_id = 0;
    // Name server: whether it granted the name, when it is next refreshed (or, after the
    // server stayed silent, offered again), and the provider thread's request under way.
    bool server_registered = false;
    std::optional<Clock::time_point> server_due;
    std::unique_ptr<ServerRequest> server_request;

    bool Active() const { return !registering && !deleted && !conflict; }
};

struct Session {
    int fd = -1;
    unsigned char lsn = 0;
    Name local{};
    Name remote{};
    unsigned char rto = 0;
    unsigned char sto = 0;
    std::mutex send_mutex;
    std::mutex recv_mutex;
    std::uint32_t remaining = 0; // bytes of a message that an NRC_INCOMP receive left
    std::atomic<bool> closed{false};

    ~Session() {
        if (fd >= 0) {
            close(fd);
        }
    }
};

struct Listen {
    NCB* ncb = nullptr;
    Name name{};
    Name callname{};
    unsigned char rto = 0;
    unsigned char sto = 0;
    bool async = false; // freed when it ends; a synchronous one by its waiting caller
    bool done = false;
};

struct HalfOpen {
    int fd = -1;
    Clock::time_point deadline;
    SessionPacketReader reader{MAX_SESSION_REQUEST_TRAILER};
};

struct Query {
    std::uint16_t trn_id = 0;
    Name name{};
    std::optional<std::uint32_t> address;
};

struct Lana {
    bool installed = false;
    Binding binding;
    int udp_fd = -1;   // name service on the unicast address: sends, answers, responses
    int bcast_fd = -1; // name service on the broadcast address: other nodes' broadcasts
    int tcp_fd = -1;   // session service listener
    std::vector<NameEntry> names;
    std::map<unsigned char, std::shared_ptr<Session>> sessions;
    std::vector<Listen*> listens;
    std::vector<std::unique_ptr<HalfOpen>> half_open;
};

class Stack {
  public:
    unsigned char Run(NCB* ncb);
    void Start();
    void Stop();

  private:
    // Commands.
    unsigned char AddName(Lana& lana, NCB* ncb, bool group);
    unsigned char DeleteName(Lana& lana, NCB* ncb);
    unsigned char Call(Lana& lana, NCB* ncb);
    unsigned char PostListen(Lana& lana, NCB* ncb, bool async);
    unsigned char Hangup(Lana& lana, NCB* ncb);
    unsigned char Send(Lana& lana, NCB* ncb);
    unsigned char Receive(Lana& lana, NCB* ncb);
    unsigned char Cancel(NCB* ncb);
    unsigned char Reset(Lana& lana, NCB* ncb);

    // Helpers; the ones named ...Locked expect mutex_ held.
    std::optional<std::uint32_t> Resolve(Lana& lana, const Name& name);
    bool UsesServer() const {
        return config_.name_server.has_value() && config_.node_type != NodeType::B;
    }
    bool Broadcasts() const { return config_.node_type != NodeType::P; }
    // This node's type in NB_FLAGS and NAME_FLAGS.
    std::uint16_t Ont() const {
        switch (config_.node_type) {
        case NodeType::P:
            return NB_ONT_P;
        case NodeType::H:
            return NB_ONT_H;
        default:
            return NB_ONT_B;
        }
    }
    // Sends request from the LANA's name socket and waits (lock released meanwhile) for its
    // answer; nullopt when none came.
    std::optional<ServerAnswer> Exchange(Lana& lana, ServerRequest& request,
                                         std::unique_lock<std::mutex>& lock);
    std::optional<ServerAnswer> RegisterWithServer(Lana& lana, const Name& name, bool group,
                                                   std::unique_lock<std::mutex>& lock);
    void SendServerReleaseLocked(const Lana& lana, const NameEntry& e);
    // Refreshes and re-registrations that are due; returns when the next one is.
    std::optional<Clock::time_point> ServeServerTimersLocked(Clock::time_point now);
    NameEntry* FindNameLocked(Lana& lana, const Name& name);
    void RemoveSessionLocked(Lana& lana, unsigned char lsn);
    void AbortSession(Lana& lana, const std::shared_ptr<Session>& s);
    void EndListenLocked(Lana& lana, Listen* listen, unsigned char code);
    std::optional<unsigned char> FreeLsnLocked(const Lana& lana) const;
    std::shared_ptr<Session> FindSession(Lana& lana, unsigned char lsn);
    void SendName(const Lana& lana, const Bytes& packet, std::uint32_t address, std::uint16_t port);
    std::uint16_t NewTrnId();
    unsigned char Connect(Lana& lana, std::uint32_t address, std::uint16_t port, NCB* ncb,
                          int& retarget_left);

    // Provider thread.
    void Loop();
    void ServeNameSocket(Lana& lana, int fd);
    void HandleNamePacket(Lana& lana, ByteSpan data, const sockaddr_in& from);
    void Accept(Lana& lana);
    // Returns false when the connection is done with (closed or handed to a session).
    bool ServeHalfOpen(Lana& lana, HalfOpen& h);
    void AnswerSessionRequest(Lana& lana, HalfOpen& h, const WireName& called,
                              const WireName& calling);

    std::mutex mutex_;
    std::condition_variable changed_;
    Config config_;
    std::vector<Lana> lanas_;
    std::vector<Query*> queries_;
    std::vector<ServerRequest*> server_requests_; // callers waiting for a name server answer
    std::thread thread_;
    int wake_fd_ = -1;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> stopped_{false};
    std::mt19937 random_{std::random_device{}()};
};

Stack* TheStack = nullptr;
std::once_flag StartOnce;

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

// Writes all of data; false on error or when the deadline passes.
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

enum class ReadResult { Ok, Closed, Aborted, TimedOut };

// Reads exactly size bytes into buffer, relying on the socket's receive time-out; got says
// how many arrived. deadline (if any) bounds the whole read.
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

} // namespace

// ---------------------------------------------------------------------------------------
// Start and stop

void Stack::Start() {
    config_ = LoadConfig();
    for (const std::string& p : config_.problems) {
        std::fprintf(stderr, "netbios: %s\n", p.c_str());
    }
    lanas_.resize(MAX_LANAS);
    bool any = false;
    for (std::size_t i = 0; i < config_.lanas.size() && i < MAX_LANAS; ++i) {
        const Binding& b = config_.lanas[i];
        if (!b.configured) {
            continue;
        }
        Lana& lana = lanas_[i];
        lana.binding = b;
        std::string why;
        lana.udp_fd = OpenUdp(b.address, config_.name_port, why);
        if (lana.udp_fd >= 0 && b.broadcast != b.address) {
            lana.bcast_fd = OpenUdp(b.broadcast, config_.name_port, why);
        }
        if (lana.udp_fd >= 0 && (lana.bcast_fd >= 0 || b.broadcast == b.address)) {
            lana.tcp_fd = OpenTcpListener(b.address, config_.session_port, why);
        }
        if (lana.tcp_fd < 0) {
            std::fprintf(stderr, "netbios: LANA %zu (%s) not installed: cannot bind %s%s\n", i,
                         FormatIpv4(b.address).c_str(), why.c_str(),
                         errno == EACCES ? " (ports below 1024 need root or the sysctl "
                                           "net.ipv4.ip_unprivileged_port_start)"
                                         : "");
            for (int* fd : {&lana.udp_fd, &lana.bcast_fd}) {
                if (*fd >= 0) {
                    close(*fd);
                    *fd = -1;
                }
            }
            continue;
        }
        lana.installed = true;
        any = true;
    }
    if (any) {
        wake_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        thread_ = std::thread([this] { Loop(); });
        std::atexit([] { TheStack->Stop(); });
    }
}

void Stack::Stop() {
    if (stopped_.exchange(true)) {
        return;
    }
    stopping_ = true;
    if (thread_.joinable()) {
        std::uint64_t one = 1;
        if (write(wake_fd_, &one, sizeof one) < 0) {
            // The thread also notices stopping_ at its next poll time-out.
        }
        thread_.join();
    }
    // Names the server granted would otherwise stay registered there for days after this
    // process is gone, and block the same name on another address until the server has
    // challenged this one. One release each, not waited for.
    std::lock_guard lock(mutex_);
    for (const Lana& lana : lanas_) {
        for (const NameEntry& e : lana.names) {
            if (lana.installed && e.server_registered) {
                SendServerReleaseLocked(lana, e);
            }
        }
    }
}

// ---------------------------------------------------------------------------------------
// Dispatch

unsigned char RunCommand(NCB* ncb) {
    std::call_once(StartOnce, [] {
        // Never destroyed: the provider thread and atexit handler use it to the very end.
        TheStack = new Stack;
        TheStack->Start();
    });
    return TheStack->Run(ncb);
}

unsigned char Stack::Run(NCB* ncb) {
    unsigned char command = ncb->ncb_command & 0x7f;
    bool async = (ncb->ncb_command & ASYNCH) != 0;
    unsigned char lana_num = ncb->ncb_lana_num;
    if (lana_num >= lanas_.size() || !lanas_[lana_num].installed) {
        Complete(ncb, NRC_BRIDGE);
        return NRC_BRIDGE;
    }
    if (stopped_) {
        Complete(ncb, NRC_OPENERR);
        return NRC_OPENERR;
    }
    Lana& lana = lanas_[lana_num];
    if (async && (ncb->ncb_post != nullptr || ncb->ncb_event != nullptr)) {
        // Completion routines and events are not offered; refusing beats never calling them.
        Complete(ncb, NRC_ILLCMD);
        return NRC_ILLCMD;
    }
    if (command == NCBLISTEN) {
        return PostListen(lana, ncb, async);
    }
    std::atomic_ref<unsigned char>(ncb->ncb_cmd_cplt).store(NRC_PENDING, std::memory_order_relaxed);
    unsigned char code = NRC_ILLCMD;
    switch (command) {
    case NCBRESET:
        code = Reset(lana, ncb);
        break;
    case NCBADDNAME:
        code = AddName(lana, ncb, false);
        break;
    case NCBADDGRNAME:
        code = AddName(lana, ncb, true);
        break;
    case NCBDELNAME:
        code = DeleteName(lana, ncb);
        break;
    case NCBCALL:
        code = Call(lana, ncb);
        break;
    case NCBHANGUP:
        code = Hangup(lana, ncb);
        break;
    case NCBSEND:
        code = Send(lana, ncb);
        break;
    case NCBRECV:
        code = Receive(lana, ncb);
        break;
    case NCBCANCEL:
        code = Cancel(ncb);
        break;
    default:
        code = NRC_ILLCMD; // includes the adapter probe 0x7F
        break;
    }
    Complete(ncb, code);
    return code;
}

// ---------------------------------------------------------------------------------------
// Names

NameEntry* Stack::FindNameLocked(Lana& lana, const Name& name) {
    for (NameEntry& e : lana.names) {
        if (e.name == name) {
            return &e;
        }
    }
    return nullptr;
}

std::uint16_t Stack::NewTrnId() {
    return static_cast<std::uint16_t>(random_() & 0xffff);
}

void Stack::SendName(const Lana& lana, const Bytes& packet, std::uint32_t address,
                     std::uint16_t port) {
    sockaddr_in to = SockAddr(address, port);
    sendto(lana.udp_fd, packet.data(), packet.size(), MSG_NOSIGNAL,
           reinterpret_cast<sockaddr*>(&to), sizeof to);
}

unsigned char Stack::AddName(Lana& lana, NCB* ncb, bool group) {
    Name name = NameOf(ncb->ncb_name);
    if (name[0] == 0x00 || name[0] == '*') {
        return NRC_NOWILD;
    }
    std::unique_lock lock(mutex_);
    if (FindNameLocked(lana, name) != nullptr) {
        return NRC_DUPNAME;
    }
    unsigned char number = 0;
    for (unsigned n = 1; n <= MAX_NAMES && number == 0; ++n) {
        bool used = std::any_of(lana.names.begin(), lana.names.end(),
                                [n](const NameEntry& e) { return e.number == n; });
        if (!used) {
            number = static_cast<unsigned char>(n);
        }
    }
    if (number == 0) {
        return NRC_NAMTFUL;
    }
    NameEntry entry;
    entry.name = name;
    entry.number = number;
    entry.group = group;
    entry.trn_id = NewTrnId();
    lana.names.push_back(std::move(entry));

    bool refused = false;
    bool by_broadcast = !UsesServer();
    std::optional<std::uint32_t> granted_ttl;
    if (UsesServer()) {
        std::optional<ServerAnswer> answer = RegisterWithServer(lana, name, group, lock);
        if (answer && answer->kind == ServerAnswer::Kind::Positive) {
            granted_ttl = answer->ttl;
        } else if (answer) {
            refused = true; // held by another node, or refused by the server's policy
        } else if (Broadcasts()) {
            by_broadcast = true; // the server is silent: an H-node registers by broadcast
        }
    }
    if (by_broadcast) {
        // Broadcast the registration and listen for objections (RFC 1001 15.2.2.1).
        std::uint16_t trn_id = 0;
        if (NameEntry* e = FindNameLocked(lana, name)) {
            trn_id = e->trn_id;
        }
        Bytes request = MakeRegistrationRequest(trn_id, Wire(name), group, lana.binding.address);
        for (int i = 0; i < BCAST_REQ_RETRY_COUNT && !refused; ++i) {
            SendName(lana, request, lana.binding.broadcast, config_.name_port);
            auto until = Clock::now() + BCAST_REQ_RETRY_TIMEOUT;
            changed_.wait_until(lock, until, [&] {
                NameEntry* e = FindNameLocked(lana, name);
                return e != nullptr && e->refused;
            });
            NameEntry* e = FindNameLocked(lana, name);
            refused = e != nullptr && e->refused;
        }
    }
    auto it = std::find_if(lana.names.begin(), lana.names.end(),
                           [&](const NameEntry& e) { return e.name == name; });
    if (it == lana.names.end()) {
        return NRC_NAMERR; // deleted by another thread while it was being registered
    }
    if (refused) {
        lana.names.erase(it);
        return NRC_INUSE;
    }
    if (!by_broadcast && !granted_ttl) {
        lana.names.erase(it);
        return NRC_CMDTMO; // a P-node whose server did not answer has no name
    }
    it->registering = false;
    if (granted_ttl) {
        it->server_registered = true;
        if (auto interval = RefreshInterval(*granted_ttl)) {
            it->server_due = Clock::now() + *interval;
        }
    } else if (UsesServer()) {
        it->server_due = Clock::now() + SERVER_RETRY_INTERVAL; // offered to the server again
    }
    if (it->server_due) {
        std::uint64_t one = 1;
        if (write(wake_fd_, &one, sizeof one) < 0) {
            // The provider thread sees the new timer at its next poll time-out.
        }
    }
    ncb->ncb_num = number;
    return NRC_GOODRET;
}

std::optional<ServerAnswer> Stack::Exchange(Lana& lana, ServerRequest& request,
                                            std::unique_lock<std::mutex>& lock) {
    server_requests_.push_back(&request);
    for (;;) {
        auto now = Clock::now();
        if (request.Done(now) || stopping_) {
            break;
        }
        if (request.SendDue(now)) {
            SendName(lana, request.Packet(), request.Peer(), request.Port());
        }
        changed_.wait_until(lock, request.NextEvent(),
                            [&] { return request.Result().has_value(); });
    }
    std::erase(server_requests_, &request);
    return request.Result();
}

std::optional<ServerAnswer> Stack::RegisterWithServer(Lana& lana, const Name& name, bool group,
                                                      std::unique_lock<std::mutex>& lock) {
    const NameServer& server = *config_.name_server;
    auto request_to_server = [&](RegistrationKind kind) {
        std::uint16_t trn_id = NewTrnId();
        return ServerRequest(
            trn_id, OPCODE_REGISTRATION,
            MakeServerRegistration(trn_id, Wire(name), group, Ont(), lana.binding.address, kind),
            server.address, server.port);
    };
    ServerRequest request = request_to_server(RegistrationKind::Register);
    std::optional<ServerAnswer> answer = Exchange(lana, request, lock);
    if (!answer || answer->kind != ServerAnswer::Kind::Challenge) {
        return answer;
    }
    // End-node challenge (RFC 1001 15.1.2.2): the server names the current owner and leaves
    // asking it to us. An owner that still answers keeps the name; otherwise it is ours.
    std::uint16_t trn_id = NewTrnId();
    ServerRequest ask(trn_id, OPCODE_QUERY, MakeServerQuery(trn_id, Wire(name)),
                      answer->entries[0].address, config_.name_port);
    std::optional<ServerAnswer> owner = Exchange(lana, ask, lock);
    if (owner && owner->kind == ServerAnswer::Kind::Positive) {
        ServerAnswer held;
        held.rcode = RCODE_ACT_ERR;
        return held;
    }
    ServerRequest overwrite = request_to_server(RegistrationKind::Overwrite);
    answer = Exchange(lana, overwrite, lock);
    if (answer && answer->kind == ServerAnswer::Kind::Challenge) {
        answer->kind = ServerAnswer::Kind::Negative; // challenged twice: the server will not say
        answer->rcode = RCODE_SRV_ERR;
    }
    return answer;
}

void Stack::SendServerReleaseLocked(const Lana& lana, const NameEntry& e) {
    const NameServer& server = *config_.name_server;
    SendName(lana,
             MakeServerRelease(NewTrnId(), Wire(e.name), e.group, Ont(), lana.binding.address),
             server.address, server.port);
}

std::optional<Clock::time_point> Stack::ServeServerTimersLocked(Clock::time_point now) {
    std::optional<Clock::time_point> next;
    if (!UsesServer()) {
        return next;
    }
    const NameServer& server = *config_.name_server;
    for (Lana& lana : lanas_) {
        if (!lana.installed) {
            continue;
        }
        for (NameEntry& e : lana.names) {
            if (e.registering || e.deleted || e.conflict) {
                continue;
            }
            if (!e.server_request && e.server_due && now >= *e.server_due) {
                // Refresh a granted name; offer one registered by broadcast again.
                std::uint16_t trn_id = NewTrnId();
                RegistrationKind kind =
                    e.server_registered ? RegistrationKind::Refresh : RegistrationKind::Register;
                e.server_request = std::make_unique<ServerRequest>(
                    trn_id, e.server_registered ? OPCODE_REFRESH : OPCODE_REGISTRATION,
                    MakeServerRegistration(trn_id, Wire(e.name), e.group, Ont(),
                                           lana.binding.address, kind),
                    server.address, server.port);
            }
            if (e.server_request) {
                ServerRequest& r = *e.server_request;
                if (r.SendDue(now)) {
                    SendName(lana, r.Packet(), r.Peer(), r.Port());
                }
                if (r.Done(now)) {
                    std::optional<ServerAnswer> answer = r.Result();
                    e.server_request.reset();
                    e.server_due.reset();
                    if (answer && answer->kind == ServerAnswer::Kind::Positive) {
                        e.server_registered = true;
                        if (auto interval = RefreshInterval(answer->ttl)) {
                            e.server_due = now + *interval;
                        }
                    } else if (answer && answer->kind == ServerAnswer::Kind::Negative) {
                        // The server gave the name to another node: only a delete is left.
                        e.server_registered = false;
                        e.conflict = true;
                    } else {
                        e.server_due = now + SERVER_RETRY_INTERVAL; // silent: ask again later
                    }
                }
            }
            std::optional<Clock::time_point> at =
                e.server_request ? std::optional(e.server_request->NextEvent()) : e.server_due;
            if (at && (!next || *at < *next)) {
                next = at;
            }
        }
    }
    return next;
}

unsigned char Stack::DeleteName(Lana& lana, NCB* ncb) {
    Name name = NameOf(ncb->ncb_name);
    std::unique_lock lock(mutex_);
    NameEntry* entry = FindNameLocked(lana, name);
    if (entry == nullptr || entry->deleted) {
        return NRC_NOWILD;
    }
    // Listens on the name end now; after this returns nothing writes into their NCBs.
    std::vector<Listen*> ending;
    for (Listen* l : lana.listens) {
        if (l->name == name) {
            ending.push_back(l);
        }
    }
    for (Listen* l : ending) {
        EndListenLocked(lana, l, NRC_NAMERR);
    }
    if (!entry->registering && Broadcasts()) {
        SendName(lana,
                 MakeReleaseRequest(NewTrnId(), Wire(name), entry->group, lana.binding.address),
                 lana.binding.broadcast, config_.name_port);
    }
    bool group = entry->group;
    bool at_server = entry->server_registered;
    entry->server_registered = false;
    entry->server_request.reset();
    entry->server_due.reset();
    bool in_use = std::any_of(lana.sessions.begin(), lana.sessions.end(),
                              [&](const auto& s) { return s.second->local == name; });
    if (in_use) {
        entry->deleted = true;
    } else {
        lana.names.erase(lana.names.begin() + (entry - lana.names.data()));
    }
    if (at_server) {
        // Released at the server too (RFC 1001 15.1.3.1), with retransmissions; the answer
        // does not change the outcome: the name is gone here either way.
        const NameServer& server = *config_.name_server;
        std::uint16_t trn_id = NewTrnId();
        ServerRequest release(
            trn_id, OPCODE_RELEASE,
            MakeServerRelease(trn_id, Wire(name), group, Ont(), lana.binding.address),
            server.address, server.port);
        Exchange(lana, release, lock);
    }
    return in_use ? NRC_ACTSES : NRC_GOODRET;
}

std::optional<std::uint32_t> Stack::Resolve(Lana& lana, const Name& name) {
    {
        std::lock_guard lock(mutex_);
        for (const Lana& lana : lanas_) {
            for (const NameEntry& e : lana.names) {
                if (lana.installed && e.name == name && e.Active()) {
                    return lana.binding.address;
                }
            }
        }
    }
    for (const StaticEntry& s : config_.static_names) {
        if (StaticEntryMatches(s, name)) {
            return s.address;
        }
    }
    if (UsesServer()) {
        const NameServer& server = *config_.name_server;
        std::unique_lock lock(mutex_);
        std::uint16_t trn_id = NewTrnId();
        ServerRequest query(trn_id, OPCODE_QUERY, MakeServerQuery(trn_id, Wire(name)),
                            server.address, server.port);
        std::optional<ServerAnswer> answer = Exchange(lana, query, lock);
        if (answer && answer->kind == ServerAnswer::Kind::Positive) {
            for (const AddrEntry& e : answer->entries) {
                // A group's entry may be the limited broadcast address: no station to call.
                if (e.address != 0 && e.address != 0xffffffffu) {
                    return e.address;
                }
            }
        }
    }
    if (!Broadcasts()) {
        return std::nullopt;
    }

    // Broadcast a query on every installed LANA; the first positive answer wins.
    Query query;
    query.name = name;
    std::unique_lock lock(mutex_);
    query.trn_id = NewTrnId();
    queries_.push_back(&query);
    Bytes request = MakeQueryRequest(query.trn_id, Wire(name), true);
    for (int i = 0; i < BCAST_REQ_RETRY_COUNT && !query.address; ++i) {
        for (const Lana& lana : lanas_) {
            if (lana.installed) {
                SendName(lana, request, lana.binding.broadcast, config_.name_port);
            }
        }
        changed_.wait_until(lock, Clock::now() + BCAST_REQ_RETRY_TIMEOUT,
                            [&] { return query.address.has_value(); });
    }
    queries_.erase(std::find(queries_.begin(), queries_.end(), &query));
    return query.address;
}

// ---------------------------------------------------------------------------------------
// Sessions

std::optional<unsigned char> Stack::FreeLsnLocked(const Lana& lana) const {
    for (unsigned n = 1; n <= MAX_SESSIONS; ++n) {
        if (lana.sessions.find(static_cast<unsigned char>(n)) == lana.sessions.end()) {
            return static_cast<unsigned char>(n);
        }
    }
    return std::nullopt;
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

void Stack::AbortSession(Lana& lana, const std::shared_ptr<Session>& s) {
    std::lock_guard lock(mutex_);
    auto it = lana.sessions.find(s->lsn);
    if (it != lana.sessions.end() && it->second == s) {
        RemoveSessionLocked(lana, s->lsn);
    }
}

unsigned char Stack::Connect(Lana& lana, std::uint32_t address, std::uint16_t port, NCB* ncb,
                             int& retarget_left) {
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
        if (errno != EINPROGRESS) {
            return fail(NRC_NOCALL);
        }
        pollfd p{fd, POLLOUT, 0};
        int err = 0;
        socklen_t len = sizeof err;
        if (poll(&p, 1, static_cast<int>(CONNECT_TIMEOUT.count())) != 1 ||
            getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
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
            // Insufficient resources may pass; every other refusal means nobody listens.
            bool busy = trailer.size() == 1 && trailer[0] == SESSION_INSUFFICIENT_RESOURCES;
            return fail(busy ? NRC_REMTFUL : NRC_NOCALL);
        }
        if (type == RETARGET_SESSION_RESPONSE && trailer.size() == 6 && retarget_left > 0) {
            --retarget_left;
            close(fd);
            std::uint32_t to = (std::uint32_t{trailer[0]} << 24) |
                               (std::uint32_t{trailer[1]} << 16) |
                               (std::uint32_t{trailer[2]} << 8) | trailer[3];
            std::uint16_t to_port = static_cast<std::uint16_t>((trailer[4] << 8) | trailer[5]);
            return Connect(lana, to, to_port, ncb, retarget_left);
        }
        if (type != POSITIVE_SESSION_RESPONSE || !trailer.empty()) {
            return fail(NRC_NOCALL);
        }
        break;
    }
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
    std::optional<std::uint32_t> address = Resolve(lana, called);
    if (!address) {
        return NRC_NOCALL;
    }
    int retargets = SSN_RETRY_COUNT;
    return Connect(lana, *address, config_.session_port, ncb, retargets);
}

unsigned char Stack::PostListen(Lana& lana, NCB* ncb, bool async) {
    auto listen = std::make_unique<Listen>();
    listen->ncb = ncb;
    listen->name = NameOf(ncb->ncb_name);
    listen->callname = NameOf(ncb->ncb_callname);
    listen->rto = ncb->ncb_rto;
    listen->sto = ncb->ncb_sto;
    listen->async = async;
    std::unique_lock lock(mutex_);
    NameEntry* e = FindNameLocked(lana, listen->name);
    if (e == nullptr || !e->Active()) {
        Complete(ncb, NRC_NOWILD);
        return NRC_NOWILD;
    }
    ncb->ncb_retcode = NRC_PENDING;
    std::atomic_ref<unsigned char>(ncb->ncb_cmd_cplt).store(NRC_PENDING, std::memory_order_release);
    Listen* l = listen.release(); // owned by lana.listens until it ends
    lana.listens.push_back(l);
    if (async) {
        // From here on the provider thread owns the NCB until it completes: read no field.
        return NRC_GOODRET;
    }
    changed_.wait(lock, [&] { return l->done; });
    delete l;
    return ncb->ncb_retcode;
}

void Stack::EndListenLocked(Lana& lana, Listen* l, unsigned char code) {
    std::erase(lana.listens, l);
    // Once completed, an asynchronous NCB is the caller's again: no field is read after this.
    Complete(l->ncb, code);
    if (l->async) {
        delete l;
    } else {
        l->done = true;
        changed_.notify_all();
    }
}

unsigned char Stack::Hangup(Lana& lana, NCB* ncb) {
    std::lock_guard lock(mutex_);
    if (lana.sessions.find(ncb->ncb_lsn) == lana.sessions.end()) {
        return NRC_SNUMOUT;
    }
    RemoveSessionLocked(lana, ncb->ncb_lsn);
    return NRC_GOODRET;
}

unsigned char Stack::Send(Lana& lana, NCB* ncb) {
    std::shared_ptr<Session> s = FindSession(lana, ncb->ncb_lsn);
    if (!s) {
        return NRC_SNUMOUT;
    }
    if (ncb->ncb_buffer == nullptr && ncb->ncb_length != 0) {
        return NRC_BUFLEN;
    }
    std::lock_guard io(s->send_mutex);
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
    std::shared_ptr<Session> s = FindSession(lana, ncb->ncb_lsn);
    if (!s) {
        return NRC_SNUMOUT;
    }
    if (ncb->ncb_buffer == nullptr && ncb->ncb_length != 0) {
        return NRC_BUFLEN;
    }
    std::lock_guard io(s->recv_mutex);
    std::optional<Clock::time_point> deadline;
    if (s->rto != 0) {
        deadline = Clock::now() + milliseconds(500 * s->rto);
    }
    std::size_t capacity = ncb->ncb_length;
    ncb->ncb_length = 0;
    std::size_t got = 0;
    if (s->remaining == 0) {
        // Next message; keep-alives in between are dropped.
        for (;;) {
            unsigned char header[SESSION_HEADER_SIZE];
            ReadResult r = ReadExactly(s->fd, header, sizeof header, got, deadline);
            if (r == ReadResult::TimedOut && got == 0) {
                return NRC_CMDTMO; // nothing arrived: the session stays up
            }
            if (r == ReadResult::Closed && got == 0) {
                AbortSession(lana, s);
                return NRC_SCLOSED;
            }
            if (r != ReadResult::Ok) {
                AbortSession(lana, s);
                return r == ReadResult::TimedOut ? NRC_CMDTMO : NRC_SABORT;
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
    std::size_t take = std::min<std::size_t>(s->remaining, capacity);
    ReadResult r = ReadExactly(s->fd, ncb->ncb_buffer, take, got, deadline);
    ncb->ncb_length = static_cast<unsigned short>(got);
    if (r != ReadResult::Ok) {
        // Mid-message: the rest can no longer be told apart from the next message.
        AbortSession(lana, s);
        return r == ReadResult::TimedOut ? NRC_CMDTMO : NRC_SABORT;
    }
    s->remaining -= static_cast<std::uint32_t>(take);
    return s->remaining > 0 ? NRC_INCOMP : NRC_GOODRET;
}

unsigned char Stack::Cancel(NCB* ncb) {
    NCB* target = reinterpret_cast<NCB*>(ncb->ncb_buffer);
    if (target == nullptr) {
        return NRC_BADDR;
    }
    std::lock_guard lock(mutex_);
    for (Lana& lana : lanas_) {
        for (Listen* l : lana.listens) {
            if (l->ncb == target) {
                EndListenLocked(lana, l, NRC_CMDCAN);
                return NRC_GOODRET;
            }
        }
    }
    // Only listens wait in the background; anything else has completed already.
    return NRC_CANOCCR;
}

unsigned char Stack::Reset(Lana& lana, NCB* ncb) {
    // No LANA needs a reset: with every field zero it keeps names and sessions in force.
    if (ncb->ncb_lsn == 0 && ncb->ncb_num == 0) {
        return NRC_GOODRET;
    }
    // A reset that asks for resources clears the LANA, as a classic reset does.
    std::lock_guard lock(mutex_);
    while (!lana.listens.empty()) {
        EndListenLocked(lana, lana.listens.front(), NRC_CMDCAN);
    }
    while (!lana.sessions.empty()) {
        RemoveSessionLocked(lana, lana.sessions.begin()->first);
    }
    for (const NameEntry& e : lana.names) {
        if (!e.registering && Broadcasts()) {
            SendName(lana,
                     MakeReleaseRequest(NewTrnId(), Wire(e.name), e.group, lana.binding.address),
                     lana.binding.broadcast, config_.name_port);
        }
        if (!e.registering && e.server_registered) {
            SendServerReleaseLocked(lana, e); // once: a reset does not wait for the server
        }
    }
    std::erase_if(lana.names, [](const NameEntry& e) { return !e.registering; });
    return NRC_GOODRET;
}

// ---------------------------------------------------------------------------------------
// Provider thread

void Stack::Loop() {
    std::vector<pollfd> fds;
    enum class Kind { Wake, Udp, Tcp, HalfOpen };
    struct Slot {
        Kind kind;
        Lana* lana;
        HalfOpen* half;
    };
    std::vector<Slot> slots;
    while (!stopping_) {
        fds.clear();
        slots.clear();
        fds.push_back({wake_fd_, POLLIN, 0});
        slots.push_back({Kind::Wake, nullptr, nullptr});
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
                        slots.push_back({Kind::Udp, &lana, nullptr});
                    }
                }
                fds.push_back({lana.tcp_fd, POLLIN, 0});
                slots.push_back({Kind::Tcp, &lana, nullptr});
                for (auto& h : lana.half_open) {
                    fds.push_back({h->fd, POLLIN, 0});
                    slots.push_back({Kind::HalfOpen, &lana, h.get()});
                    auto left =
                        std::chrono::duration_cast<milliseconds>(h->deadline - now).count() + 1;
                    timeout = std::clamp(static_cast<int>(left), 0, timeout);
                }
            }
            if (auto due = ServeServerTimersLocked(now)) {
                auto left = std::chrono::duration_cast<milliseconds>(*due - now).count() + 1;
                timeout = std::clamp(static_cast<int>(left), 0, timeout);
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
            if (slot.kind == Kind::Udp) {
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

void Stack::HandleNamePacket(Lana& lana, ByteSpan data, const sockaddr_in& from) {
    std::uint32_t source = ntohl(from.sin_addr.s_addr);
    std::uint16_t port = ntohs(from.sin_port);
    if (source == lana.binding.address) {
        return; // our own broadcast, come back
    }
    NamePacket p;
    if (data.size() > MAX_DATAGRAM_LENGTH || ParseNamePacket(data, p) != ParseStatus::Ok) {
        return; // malformed: dropped
    }
    if (!p.IsResponse()) {
        if (p.questions.size() != 1 || !p.questions[0].name.scope.empty()) {
            return;
        }
        if (!Broadcasts() && (p.flags & FLAG_BROADCAST) != 0) {
            return; // a P-node neither sends nor hears broadcasts
        }
        const Question& q = p.questions[0];
        if (p.GetOpcode() == OPCODE_QUERY && q.type == RR_TYPE_NB) {
            NameEntry* e = FindNameLocked(lana, q.name.name);
            if (e != nullptr && e->Active()) {
                SendName(lana,
                         MakePositiveQueryResponse(p.trn_id, (p.flags & FLAG_RD) != 0, q.name,
                                                   e->group, lana.binding.address, Ont()),
                         source, port);
            }
        } else if (p.GetOpcode() == OPCODE_QUERY && q.type == RR_TYPE_NBSTAT) {
            Name wildcard{};
            wildcard[0] = '*';
            NameEntry* e = FindNameLocked(lana, q.name.name);
            if (q.name.name == wildcard || (e != nullptr && e->Active())) {
                std::vector<StatusName> names;
                for (const NameEntry& n : lana.names) {
                    if (n.Active()) {
                        names.push_back(
                            {n.name, static_cast<std::uint16_t>(NAME_FLAG_ACTIVE | Ont() |
                                                                (n.group ? NB_FLAG_GROUP : 0))});
                    }
                }
                SendName(lana, MakeNodeStatusResponse(p.trn_id, q.name, names), source, port);
            }
        } else if ((p.GetOpcode() == OPCODE_REGISTRATION || p.GetOpcode() == OPCODE_MULTIHOMED) &&
                   p.additional.size() == 1) {
            // Defend a name we hold (RFC 1001 15.2.2.2): a unique name against anyone, a group
            // name against a unique registration.
            std::vector<AddrEntry> entries;
            NameEntry* e = FindNameLocked(lana, q.name.name);
            if (e == nullptr || e->registering || e->deleted ||
                !ParseAddrEntries(p.additional[0].rdata, entries)) {
                return;
            }
            bool wants_group = (entries[0].flags & NB_FLAG_GROUP) != 0;
            if (!e->group || !wants_group) {
                SendName(
                    lana,
                    MakeNegativeRegistrationResponse(p.trn_id, q.name, RCODE_ACT_ERR, entries[0]),
                    source, port);
            }
        }
        return;
    }
    auto now = Clock::now();
    for (ServerRequest* r : server_requests_) {
        if (r->Offer(p, source, port, now)) {
            changed_.notify_all();
            return;
        }
    }
    for (Lana& l : lanas_) {
        for (NameEntry& e : l.names) {
            if (e.server_request && e.server_request->Offer(p, source, port, now)) {
                return; // taken up by ServeServerTimersLocked after this round
            }
        }
    }
    if (p.answers.empty()) {
        return;
    }
    const Record& rr = p.answers[0];
    if (p.GetOpcode() == OPCODE_REGISTRATION && p.GetRcode() != RCODE_OK) {
        for (NameEntry& e : lana.names) {
            if (e.name != rr.name.name) {
                continue;
            }
            if (e.registering && e.trn_id == p.trn_id) {
                e.refused = true;
                changed_.notify_all();
            } else if (!e.registering && p.GetRcode() == RCODE_CFT_ERR) {
                e.conflict = true; // name conflict demand: only a delete is left
            }
        }
    } else if (p.GetOpcode() == OPCODE_QUERY && p.GetRcode() == RCODE_OK && rr.type == RR_TYPE_NB) {
        std::vector<AddrEntry> entries;
        if (!ParseAddrEntries(rr.rdata, entries)) {
            return;
        }
        for (Query* q : queries_) {
            if (q->trn_id == p.trn_id && q->name == rr.name.name && !q->address) {
                q->address = entries[0].address;
                changed_.notify_all();
            }
        }
    }
}

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
