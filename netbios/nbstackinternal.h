// The stack's shared state, for the files that implement it: the tables of every LANA (names,
// sessions, listens, connections that have not yet asked for a session), the Stack that owns
// them and the one mutex that guards them, and the socket helpers the modules share.
//
//   nbstack.cpp          the NCB front: start and stop, dispatch, listen, cancel, reset
//   nbnameservice.cpp    the name table: add, delete, resolve; answering other nodes and
//                        routing answers to this node's own requests
//   nbwinsclient.cpp     the name server client: waiting for its answers, refresh timers
//   nbsessionservice.cpp the session table: call and retarget, accepted and half-open
//                        connections, sends and receives
//   nbloop.cpp           the provider thread's poll loop and the socket helpers
#ifndef ZEB_NETBIOS_NBSTACKINTERNAL_H
#define ZEB_NETBIOS_NBSTACKINTERNAL_H

#include "nbcodec.h"
#include "nbconfig.h"
#include "nbsession.h"
#include "nbwins.h"
#include "netbios.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <random>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace nb {

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
// How long the answer to a name query is kept: calls to the same name within that time cost
// no query. A call that finds nobody at the address drops it at once.
constexpr std::chrono::seconds NAME_CACHE_TIMEOUT{60};
constexpr std::size_t MAX_CACHED_NAMES = 256;
// A session whose name was deleted ends when its peer hangs up, or when this node's side has
// not used it for this long (RFC 1002 SSN_CLOSE_TIMEOUT): the name is then free again.
constexpr std::chrono::seconds SSN_CLOSE_TIMEOUT{30};
// A call that the called station refused (nobody listening on its session port, or a negative
// session response) is not made to that address again sooner than a pause that starts at
// CALL_PAUSE_FIRST and doubles with every refusal up to CALL_PAUSE_MOST. A call that gets its
// session forgets the pause, and so does an address not called for CALL_PAUSE_FORGET. A
// caller that calls again at once (the sender, for 20 seconds) then opens about one
// connection a second instead of thousands.
constexpr milliseconds CALL_PAUSE_FIRST{100};
constexpr milliseconds CALL_PAUSE_MOST{1000};
constexpr std::chrono::seconds CALL_PAUSE_FORGET{10};
constexpr std::size_t MAX_CALL_PAUSES = 256;
// At unload or exit, the repetitions of releases still owed go out this far apart.
constexpr milliseconds RELEASE_FLUSH_GAP{20};

inline void Complete(NCB* ncb, unsigned char code) {
    ncb->ncb_retcode = code;
    std::atomic_ref<unsigned char>(ncb->ncb_cmd_cplt).store(code, std::memory_order_release);
}

inline Name NameOf(const unsigned char* field) {
    Name n;
    std::memcpy(n.data(), field, n.size());
    return n;
}

inline WireName Wire(const Name& name) {
    return WireName{name, {}};
}

inline sockaddr_in SockAddr(std::uint32_t address, std::uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(address);
    sa.sin_port = htons(port);
    return sa;
}

inline timeval HalfSeconds(unsigned char units) {
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
    // Receives only, under recv_mutex: the bytes of the current message still in the socket;
    // the bytes of it that a receive took before it timed out, which the next receive
    // delivers first; and the start of the next header, read together with the end of a
    // message (or all that had come of it when a receive timed out inside it).
    std::uint32_t remaining = 0;
    std::vector<unsigned char> held;
    unsigned char ahead[SESSION_HEADER_SIZE];
    std::size_t ahead_size = 0;
    // Whether bytes that came have not all been delivered (under recv_mutex).
    bool PartReadLocked() const { return remaining > 0 || !held.empty() || ahead_size > 0; }
    std::atomic<bool> closed{false};
    // Sends and receives under way on it, and when the last one started or ended (or its name
    // was deleted): the provider thread ends a session of a deleted name nobody uses.
    std::atomic<int> busy{0};
    std::atomic<Clock::rep> last_used{Clock::now().time_since_epoch().count()};
    // Since when data that came on a session of a deleted name has waited unread (provider
    // thread, under the stack's mutex).
    std::optional<Clock::time_point> unread_since;

    void Touch() { last_used = Clock::now().time_since_epoch().count(); }

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

// A send or receive on a session, from start to end.
class SessionUse {
  public:
    explicit SessionUse(Session& s) : s_(s) {
        ++s_.busy;
        s_.Touch();
    }
    ~SessionUse() {
        s_.Touch();
        --s_.busy;
    }
    SessionUse(const SessionUse&) = delete;
    SessionUse& operator=(const SessionUse&) = delete;

  private:
    Session& s_;
};

struct CachedName {
    std::uint32_t address = 0;
    Clock::time_point expires;
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
    // Sessions of deleted names that ended because their peer hung up with nothing left to
    // read: the next command on such a number answers NRC_SCLOSED, as the session would have,
    // until the time kept here; the number is not given out again before.
    std::map<unsigned char, Clock::time_point> hung_up;
    std::vector<Listen*> listens;
    std::vector<std::unique_ptr<HalfOpen>> half_open;
};

// The pause before the next call to an address that refused the last one.
struct CallPause {
    Clock::time_point until; // no call before this
    milliseconds pause{0};   // the pause that ends then
};

// A name release broadcast again, BCAST_REQ_RETRY_TIMEOUT after the last send.
struct PendingRelease {
    const Lana* lana = nullptr;
    Name name{};
    Bytes packet;
    int left = 0;
    Clock::time_point due;
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
    // The address of a name: local table, static names, the name cache, the name server,
    // broadcast; from_cache says whether the cache gave it.
    std::optional<std::uint32_t> Resolve(Lana& lana, const Name& name, bool& from_cache);
    void CacheNameLocked(const Name& name, std::uint32_t address);
    void ForgetName(const Name& name);
    // Broadcasts a release and schedules its repetitions on the provider thread.
    void ReleaseByBroadcastLocked(const Lana& lana, const NameEntry& e);
    // Repetitions of releases that are due; returns when the next one is.
    std::optional<Clock::time_point> ServeReleasesLocked(Clock::time_point now);
    // At unload or exit: every release still owed, for deleted names and names still held,
    // sent now, RELEASE_FLUSH_GAP apart (the provider thread has ended).
    void FlushReleases();
    // Waits (lock not held) until a call to address:port may be made; then the outcome of
    // that call: refused by the station there, or answered with a session.
    void AwaitCallPause(std::uint32_t address, std::uint16_t port);
    void NoteCallRefused(std::uint32_t address, std::uint16_t port);
    void NoteCallAccepted(std::uint32_t address, std::uint16_t port);
    // Ends the sessions of deleted names whose peer hung up or that nobody used for
    // SSN_CLOSE_TIMEOUT; returns when the next one may be due.
    std::optional<Clock::time_point> EndUnusedSessionsLocked(Clock::time_point now);
    bool OfDeletedNameLocked(Lana& lana, const Session& s);
    // Whether a session nobody uses holds data that came and has not been delivered; also
    // true while a receive is under way on it.
    static bool HoldsUnreadData(Session& s);
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
    // The answer to a session command on a number with no session behind it: NRC_SCLOSED
    // once for a session its peer hung up (see Lana::hung_up), else NRC_SNUMOUT.
    unsigned char GoneLocked(Lana& lana, unsigned char lsn);
    void AbortSession(Lana& lana, const std::shared_ptr<Session>& s);
    void EndListenLocked(Lana& lana, Listen* listen, unsigned char code);
    std::optional<unsigned char> FreeLsnLocked(const Lana& lana) const;
    std::shared_ptr<Session> FindSession(Lana& lana, unsigned char lsn);
    void SendName(const Lana& lana, const Bytes& packet, std::uint32_t address, std::uint16_t port);
    std::uint16_t NewTrnId();
    // Calls the name at address:port, following retargets. reached says whether a station
    // there answered for the name (accepted, or refused for want of a listen or resources);
    // false when nobody could be reached or the name is not there.
    unsigned char Connect(Lana& lana, std::uint32_t address, std::uint16_t port, NCB* ncb,
                          int& retarget_left, bool& reached);

    // Provider thread.
    void Loop();
    void ServeNameSocket(Lana& lana, int fd);
    // Checks a name-service packet and hands it to one of the two below.
    void HandleNamePacket(Lana& lana, ByteSpan data, const sockaddr_in& from);
    void AnswerNameRequest(Lana& lana, const NamePacket& p, std::uint32_t source,
                           std::uint16_t port);
    void RouteNameResponse(Lana& lana, const NamePacket& p, std::uint32_t source,
                           std::uint16_t port);
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
    std::vector<PendingRelease> releases_;
    std::map<Name, CachedName> cache_; // answers to this node's name queries
    std::map<std::pair<std::uint32_t, std::uint16_t>, CallPause> call_pauses_;
    std::thread thread_;
    int wake_fd_ = -1;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> stopped_{false};
    std::mt19937 random_{std::random_device{}()};
};

// Socket helpers (nbloop.cpp).
int OpenUdp(std::uint32_t address, std::uint16_t port, std::string& why);
int OpenTcpListener(std::uint32_t address, std::uint16_t port, std::string& why);
void SetBlocking(int fd);
void SetSessionOptions(int fd, unsigned char rto, unsigned char sto);
// Writes all of data; false on error or when the deadline passes.
bool WriteAll(int fd, ByteSpan data, Clock::time_point deadline);

enum class ReadResult { Ok, Closed, Aborted, TimedOut };

// Reads exactly size bytes into buffer, relying on the socket's receive time-out; got says
// how many arrived. deadline (if any) bounds the whole read.
ReadResult ReadExactly(int fd, unsigned char* buffer, std::size_t size, std::size_t& got,
                       std::optional<Clock::time_point> deadline);

} // namespace nb

#endif
