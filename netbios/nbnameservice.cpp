// The name service: this node's name table (add, delete, find), resolution of other nodes'
// names (local table, static names, the name server, broadcast), and the name-service packets
// the provider thread receives: requests from other nodes are answered or defended against,
// responses are routed to the request of this node they answer.
#include "nbstackinternal.h"

#include <algorithm>
#include <unistd.h>

namespace nb {

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
    // Releases of an earlier registration still to be repeated would retract this one.
    std::erase_if(releases_,
                  [&](const PendingRelease& r) { return r.lana == &lana && r.name == name; });
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
        ReleaseByBroadcastLocked(lana, *entry);
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
        // From now on the provider thread ends them once they are no longer used.
        for (auto& [lsn, s] : lana.sessions) {
            if (s->local == name) {
                s->Touch();
            }
        }
        std::uint64_t one = 1;
        if (write(wake_fd_, &one, sizeof one) < 0) {
            // The provider thread sees them at its next poll time-out.
        }
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

std::optional<std::uint32_t> Stack::Resolve(Lana& lana, const Name& name, bool& from_cache) {
    from_cache = false;
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
    {
        std::lock_guard lock(mutex_);
        auto it = cache_.find(name);
        if (it != cache_.end() && Clock::now() < it->second.expires) {
            from_cache = true;
            return it->second.address;
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
                    CacheNameLocked(name, e.address);
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
    if (query.address) {
        CacheNameLocked(name, *query.address);
    }
    return query.address;
}

void Stack::CacheNameLocked(const Name& name, std::uint32_t address) {
    auto now = Clock::now();
    std::erase_if(cache_, [&](const auto& c) { return c.second.expires <= now; });
    if (cache_.size() >= MAX_CACHED_NAMES && cache_.find(name) == cache_.end()) {
        cache_.erase(
            std::min_element(cache_.begin(), cache_.end(), [](const auto& a, const auto& b) {
                return a.second.expires < b.second.expires;
            }));
    }
    cache_[name] = CachedName{address, now + NAME_CACHE_TIMEOUT};
}

void Stack::ForgetName(const Name& name) {
    std::lock_guard lock(mutex_);
    cache_.erase(name);
}

void Stack::ReleaseByBroadcastLocked(const Lana& lana, const NameEntry& e) {
    PendingRelease r;
    r.lana = &lana;
    r.name = e.name;
    r.packet = MakeReleaseRequest(NewTrnId(), Wire(e.name), e.group, lana.binding.address);
    SendName(lana, r.packet, lana.binding.broadcast, config_.name_port);
    r.left = BCAST_REQ_RETRY_COUNT - 1;
    r.due = Clock::now() + BCAST_REQ_RETRY_TIMEOUT;
    std::erase_if(releases_,
                  [&](const PendingRelease& p) { return p.lana == &lana && p.name == e.name; });
    releases_.push_back(std::move(r));
    std::uint64_t one = 1;
    if (write(wake_fd_, &one, sizeof one) < 0) {
        // The provider thread sends it at its next poll time-out.
    }
}

std::optional<Clock::time_point> Stack::ServeReleasesLocked(Clock::time_point now) {
    std::optional<Clock::time_point> next;
    for (PendingRelease& r : releases_) {
        if (now >= r.due) {
            SendName(*r.lana, r.packet, r.lana->binding.broadcast, config_.name_port);
            --r.left;
            r.due = now + BCAST_REQ_RETRY_TIMEOUT;
        }
        if (r.left > 0 && (!next || r.due < *next)) {
            next = r.due;
        }
    }
    std::erase_if(releases_, [](const PendingRelease& r) { return r.left <= 0; });
    return next;
}

// ---------------------------------------------------------------------------------------
// Name-service packets

void Stack::HandleNamePacket(Lana& lana, ByteSpan data, const sockaddr_in& from) {
    std::uint32_t source = ntohl(from.sin_addr.s_addr);
    std::uint16_t port = ntohs(from.sin_port);
    NamePacket p;
    if (data.size() > MAX_DATAGRAM_LENGTH || ParseNamePacket(data, p) != ParseStatus::Ok) {
        return; // malformed: dropped
    }
    if (source == lana.binding.address && port == config_.name_port &&
        (p.flags & FLAG_BROADCAST) != 0) {
        // Our own broadcast, come back. Anything else from this address is another program
        // on this host (nmblookup, a name server) and is served like any node.
        return;
    }
    if (p.IsResponse()) {
        RouteNameResponse(lana, p, source, port);
        return;
    }
    if (source == lana.binding.address && port == config_.name_port &&
        (lana.binding.address >> 24) != 127) {
        // A request from our own address and name port, not a broadcast: a name server on
        // this host asking through a socket bound to every address (nmbd challenging one of
        // our names does). An answer sent back there would reach our own socket, bound to
        // this very address; on loopback that wildcard socket is the only one listening.
        source = INADDR_LOOPBACK;
    }
    AnswerNameRequest(lana, p, source, port);
}

// Another node's request: a query or node status for a name held here is answered, a
// registration of a name held here is refused.
void Stack::AnswerNameRequest(Lana& lana, const NamePacket& p, std::uint32_t source,
                              std::uint16_t port) {
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
                     MakePositiveQueryResponse(p.trn_id, (p.flags & FLAG_RD) != 0, q.name, e->group,
                                               lana.binding.address, Ont()),
                     source, port);
        }
    } else if (p.GetOpcode() == OPCODE_QUERY && q.type == RR_TYPE_NBSTAT) {
        Name wildcard{};
        wildcard[0] = '*';
        NameEntry* e = FindNameLocked(lana, q.name.name);
        if (q.name.name == wildcard || (e != nullptr && e->Active())) {
            std::vector<StatusName> names;
            for (const NameEntry& n : lana.names) {
                if (!n.registering && !n.deleted) {
                    names.push_back(
                        {n.name, static_cast<std::uint16_t>(
                                     NAME_FLAG_ACTIVE | Ont() | (n.group ? NB_FLAG_GROUP : 0) |
                                     (n.conflict ? NAME_FLAG_CONFLICT : 0))});
                }
            }
            SendName(lana, MakeNodeStatusResponse(p.trn_id, q.name, names), source, port);
        }
    } else if ((p.GetOpcode() == OPCODE_REGISTRATION || p.GetOpcode() == OPCODE_MULTIHOMED) &&
               p.additional.size() == 1) {
        // Defend a name we hold (RFC 1001 15.2.2.2): a unique name against anyone, a group
        // name against a unique registration. A name in conflict is no longer ours to defend.
        std::vector<AddrEntry> entries;
        NameEntry* e = FindNameLocked(lana, q.name.name);
        if (e == nullptr || !e->Active() || !ParseAddrEntries(p.additional[0].rdata, entries)) {
            return;
        }
        bool wants_group = (entries[0].flags & NB_FLAG_GROUP) != 0;
        if (!e->group || !wants_group) {
            SendName(lana,
                     MakeNegativeRegistrationResponse(p.trn_id, q.name, RCODE_ACT_ERR, entries[0]),
                     source, port);
        }
    } else if (p.GetOpcode() == OPCODE_RELEASE) {
        cache_.erase(q.name.name); // its owner gave it up: the next call asks again
    }
}

// A response: the answer a caller or the provider thread is waiting for from the name server,
// an objection to a registration under way, a name conflict demand, or a query's answer.
void Stack::RouteNameResponse(Lana& lana, const NamePacket& p, std::uint32_t source,
                              std::uint16_t port) {
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

} // namespace nb
