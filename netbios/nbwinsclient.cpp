// The name server client's side in the stack: a caller's exchange with the server (the lock
// released while it waits), registration with its end-node challenge, releases, and the
// refreshes and re-registrations the provider thread runs when they are due.
#include "nbstackinternal.h"

namespace nb {

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

} // namespace nb
