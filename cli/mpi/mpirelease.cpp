#include "mpi/mpirelease.h"

#include <mpi.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <utility>

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

void MpiRelease::Vote(bool running, bool& anyRunning, bool& anyFailed) {
    const std::array<int, 2> mine = {running ? 1 : 0, m_failed ? 1 : 0};
    std::array<int, 2> all = {0, 0};
    if (MPI_Allreduce(mine.data(), all.data(), 2, MPI_INT, MPI_MAX, MPI_COMM_WORLD) !=
        MPI_SUCCESS) {
        // The job's error handler aborts first; this is for one that returns.
        std::fputs("zebcli-mpi: the release failed (MPI_Allreduce); aborting the job\n", stderr);
        MPI_Abort(MPI_COMM_WORLD, 1);
    }
    anyRunning = all[0] != 0;
    anyFailed = all[1] != 0;
}

bool MpiRelease::Prepared(std::size_t round) {
    m_watchdog.Arm("waiting at the release of pass " + std::to_string(round + 1),
                   m_bound + kBarrierGrace);
    bool anyRunning = false;
    bool anyFailed = false;
    Vote(true, anyRunning, anyFailed);
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
        m_watchdog.Arm("waiting for the other ranks' passes", m_bound + kBarrierGrace);
        Vote(false, anyRunning, anyFailed);
    }
    return anyFailed;
}

} // namespace zebcli::mpi
