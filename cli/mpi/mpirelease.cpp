#include "mpi/mpirelease.h"

#include <mpi.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <sched.h>

namespace zebcli::mpi {

Rank ThisRank() {
    Rank r;
    MPI_Comm_rank(MPI_COMM_WORLD, &r.rank);
    MPI_Comm_size(MPI_COMM_WORLD, &r.size);
    std::array<char, MPI_MAX_PROCESSOR_NAME + 1> name{};
    int length = 0;
    if (MPI_Get_processor_name(name.data(), &length) == MPI_SUCCESS && length > 0 &&
        length < MPI_MAX_PROCESSOR_NAME) {
        r.host.assign(name.data(), static_cast<std::size_t>(length));
    } else {
        r.host = "?";
    }
    return r;
}

Watchdog::Watchdog(Rank rank) : m_rank(std::move(rank)), m_thread([this] { Watch(); }) {}

Watchdog::~Watchdog() {
    {
        const std::lock_guard lock(m_mutex);
        m_ending = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void Watchdog::Arm(const std::string& what, std::chrono::milliseconds bound) {
    {
        const std::lock_guard lock(m_mutex);
        m_armed = true;
        m_what = what;
        m_bound = bound;
        m_deadline = std::chrono::steady_clock::now() + bound;
    }
    m_changed.notify_all();
}

void Watchdog::Disarm() {
    {
        const std::lock_guard lock(m_mutex);
        m_armed = false;
    }
    m_changed.notify_all();
}

void Watchdog::Watch() {
    std::unique_lock lock(m_mutex);
    while (!m_ending) {
        if (!m_armed) {
            m_changed.wait(lock);
            continue;
        }
        const auto deadline = m_deadline;
        if (m_changed.wait_until(lock, deadline) == std::cv_status::timeout && m_armed &&
            !m_ending && m_deadline == deadline) {
            std::fprintf(stderr,
                         "zebcli-mpi: rank %d on host %s: no word within %.0f s (%s); aborting "
                         "the job\n",
                         m_rank.rank, m_rank.host.c_str(),
                         std::chrono::duration<double>(m_bound).count(), m_what.c_str());
            std::fflush(stderr);
            MPI_Abort(MPI_COMM_WORLD, 1);
            std::_Exit(1); // MPI_Abort does not return; should it, the rank ends all the same
        }
    }
}

namespace {

// The tags of a rank's votes at a release, to rank 0, and of the outcome, from it.
constexpr int kVoteTag = 7301;
constexpr int kOutcomeTag = 7302;
// At most this many missing ranks are named in the line of an abort.
constexpr std::size_t kNamedAtMost = 8;

} // namespace

std::vector<std::string> HostsOfRanks(const Rank& rank) {
    constexpr int kName = MPI_MAX_PROCESSOR_NAME;
    std::vector<char> mine(kName, '\0');
    rank.host.copy(mine.data(), std::min<std::size_t>(rank.host.size(), kName - 1));
    std::vector<char> all(static_cast<std::size_t>(kName) * static_cast<std::size_t>(rank.size),
                          '\0');
    MPI_Allgather(mine.data(), kName, MPI_CHAR, all.data(), kName, MPI_CHAR, MPI_COMM_WORLD);
    std::vector<std::string> hosts;
    for (std::size_t r = 0; r < static_cast<std::size_t>(rank.size); ++r) {
        const char* name = all.data() + r * kName;
        hosts.emplace_back(name, ::strnlen(name, kName - 1));
    }
    return hosts;
}

namespace {

// Waits, yielding the core (ranks may share a host's cores with clients still in their
// passes), until every request of requests is complete or waited has passed bound; whether
// they all completed.
bool WaitAll(std::vector<MPI_Request>& requests, std::chrono::steady_clock::time_point began,
             std::chrono::steady_clock::duration bound) {
    for (;;) {
        int done = 0;
        MPI_Testall(static_cast<int>(requests.size()), requests.data(), &done, MPI_STATUSES_IGNORE);
        if (done != 0) {
            return true;
        }
        if (std::chrono::steady_clock::now() - began > bound) {
            return false;
        }
        sched_yield();
    }
}

} // namespace

void MpiRelease::Vote(const std::string& what, bool running, bool& anyRunning, bool& anyFailed) {
    m_watchdog.Disarm();
    ++m_releases;
    const bool root = m_rank.rank == 0;
    const std::size_t others = static_cast<std::size_t>(m_rank.size - 1);
    std::array<int, 2> votes = {running ? 1 : 0, m_failed ? 1 : 0};
    const auto began = std::chrono::steady_clock::now();
    const auto bound = m_bound + kBarrierGrace;
    if (root) {
        // Every other rank's votes in, combined with rank 0's (the highest of each), and the
        // outcome out to each rank.
        std::vector<std::array<int, 2>> theirs(others, {0, 0});
        std::vector<MPI_Request> heard(others, MPI_REQUEST_NULL);
        for (std::size_t i = 0; i < others; ++i) {
            MPI_Irecv(theirs[i].data(), 2, MPI_INT, static_cast<int>(i) + 1, kVoteTag,
                      MPI_COMM_WORLD, &heard[i]);
        }
        if (!WaitAll(heard, began, bound)) {
            AbortAtRelease(what, heard, "did not come to",
                           std::chrono::steady_clock::now() - began);
        }
        for (const auto& vote : theirs) {
            votes = {std::max(votes[0], vote[0]), std::max(votes[1], vote[1])};
        }
        std::vector<MPI_Request> told(others, MPI_REQUEST_NULL);
        for (std::size_t i = 0; i < others; ++i) {
            MPI_Isend(votes.data(), 2, MPI_INT, static_cast<int>(i) + 1, kOutcomeTag,
                      MPI_COMM_WORLD, &told[i]);
        }
        if (!WaitAll(told, began, bound)) {
            AbortAtRelease(what, told, "did not take the outcome of",
                           std::chrono::steady_clock::now() - began);
        }
    } else {
        // Rank 0 makes the release; should it not answer, it is the one that hangs, for it
        // names a rank that does not come this much sooner.
        std::array<int, 2> outcome = {0, 0};
        std::vector<MPI_Request> requests(2, MPI_REQUEST_NULL);
        MPI_Isend(votes.data(), 2, MPI_INT, 0, kVoteTag, MPI_COMM_WORLD, &requests[0]);
        MPI_Irecv(outcome.data(), 2, MPI_INT, 0, kOutcomeTag, MPI_COMM_WORLD, &requests[1]);
        if (!WaitAll(requests, began, bound + kRootFirst)) {
            std::vector<MPI_Request> answer = {requests[1]};
            AbortAtRelease(what, answer, "did not answer at",
                           std::chrono::steady_clock::now() - began);
        }
        votes = outcome;
    }
    anyRunning = votes[0] != 0;
    anyFailed = votes[1] != 0;
}

void MpiRelease::AbortAtRelease(const std::string& what, std::vector<MPI_Request>& pending,
                                const char* failed, std::chrono::steady_clock::duration waited) {
    const bool root = m_rank.rank == 0;
    std::string missing;
    std::size_t count = 0;
    for (std::size_t i = 0; i < pending.size(); ++i) {
        int done = 0;
        MPI_Test(&pending[i], &done, MPI_STATUS_IGNORE);
        if (done != 0) {
            continue;
        }
        const std::size_t peer = root ? i + 1 : 0;
        if (++count <= kNamedAtMost) {
            missing += (missing.empty() ? "rank " : ", rank ") + std::to_string(peer) +
                       " on host " + (peer < m_hosts.size() ? m_hosts[peer] : "?");
        }
    }
    if (count > kNamedAtMost) {
        missing += " and " + std::to_string(count - kNamedAtMost) + " more";
    }
    std::fprintf(stderr,
                 "zebcli-mpi: rank %d on host %s: %s %s release %d (%s) within %.0f s; "
                 "aborting the job\n",
                 m_rank.rank, m_rank.host.c_str(), missing.empty() ? "a rank" : missing.c_str(),
                 failed, m_releases, what.c_str(), std::chrono::duration<double>(waited).count());
    std::fflush(stderr);
    MPI_Abort(MPI_COMM_WORLD, 1);
    std::_Exit(1); // MPI_Abort does not return; should it, the rank ends all the same
}

bool MpiRelease::Prepared(std::size_t round) {
    bool anyRunning = false;
    bool anyFailed = false;
    Vote("this rank's pass " + std::to_string(round + 1), true, anyRunning, anyFailed);
    const bool go = !(m_stopOnFailure && anyFailed);
    m_stopped = !go;
    m_watchdog.Arm("running pass " + std::to_string(round + 1), m_bound);
    return go;
}

void MpiRelease::Ended(std::size_t round, bool passed) {
    m_failed = m_failed || !passed;
    m_watchdog.Arm("preparing pass " + std::to_string(round + 2), m_bound);
}

void MpiRelease::Stopped(int status) {
    m_atStop(status);
}

bool MpiRelease::Finish(int status) {
    m_failed = m_failed || status != 0;
    bool anyRunning = true;
    bool anyFailed = false;
    while (anyRunning) {
        Vote("this rank's passes done", false, anyRunning, anyFailed);
    }
    return anyFailed;
}

} // namespace zebcli::mpi
