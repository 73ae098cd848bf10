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

#include "nbstackinternal.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace nb {

namespace {

Stack* TheStack = nullptr;
std::once_flag StartOnce;

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
    FlushReleases();
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

void Stack::FlushReleases() {
    std::vector<PendingRelease> owed;
    Clock::time_point start = Clock::now();
    {
        std::lock_guard lock(mutex_);
        owed = std::move(releases_);
        releases_.clear();
        // No repetition closer than RELEASE_FLUSH_GAP to the send before it.
        for (const PendingRelease& r : owed) {
            start = std::max(start, r.due - BCAST_REQ_RETRY_TIMEOUT + RELEASE_FLUSH_GAP);
        }
        // The names still held go with the process: other nodes drop them from their caches
        // instead of calling an address where nobody answers for them any more. A name in
        // conflict belongs to another node, and one still being registered was never ours.
        for (const Lana& lana : lanas_) {
            for (const NameEntry& e : lana.names) {
                if (lana.installed && e.Active() && Broadcasts()) {
                    PendingRelease r;
                    r.lana = &lana;
                    r.name = e.name;
                    r.packet =
                        MakeReleaseRequest(NewTrnId(), Wire(e.name), e.group, lana.binding.address);
                    r.left = BCAST_REQ_RETRY_COUNT;
                    owed.push_back(std::move(r));
                }
            }
        }
    }
    // The provider thread is gone: the repetitions go out from here, a short gap apart, so
    // that the end of the process waits for them a few tens of milliseconds at most.
    std::this_thread::sleep_until(start);
    for (bool first = true; !owed.empty(); first = false) {
        if (!first) {
            std::this_thread::sleep_for(RELEASE_FLUSH_GAP);
        }
        for (PendingRelease& r : owed) {
            SendName(*r.lana, r.packet, r.lana->binding.broadcast, config_.name_port);
            --r.left;
        }
        std::erase_if(owed, [](const PendingRelease& r) { return r.left <= 0; });
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
    auto refuse = [&](unsigned char code) {
        if (command == NCBRECV) {
            ncb->ncb_length = 0; // nothing delivered
        }
        Complete(ncb, code);
        return code;
    };
    if (lana_num >= lanas_.size() || !lanas_[lana_num].installed) {
        return refuse(NRC_BRIDGE);
    }
    if (stopped_) {
        return refuse(NRC_OPENERR);
    }
    Lana& lana = lanas_[lana_num];
    if (async && (ncb->ncb_post != nullptr || ncb->ncb_event != nullptr)) {
        // Completion routines and events are not offered; refusing beats never calling them.
        return refuse(NRC_ILLCMD);
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
// Listens

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

// ---------------------------------------------------------------------------------------
// Cancel and reset

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
    lana.hung_up.clear();
    for (const NameEntry& e : lana.names) {
        if (!e.registering && Broadcasts()) {
            ReleaseByBroadcastLocked(lana, e);
        }
        if (!e.registering && e.server_registered) {
            SendServerReleaseLocked(lana, e); // once: a reset does not wait for the server
        }
    }
    std::erase_if(lana.names, [](const NameEntry& e) { return !e.registering; });
    return NRC_GOODRET;
}

} // namespace nb
