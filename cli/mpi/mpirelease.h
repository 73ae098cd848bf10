// One client per rank of an MPI job: the rank's place in the job, the release of the clients
// through MPI (each release an MPI_Allreduce of every rank's vote, so that the barrier also
// says whether to go on), and the watchdog that aborts the job when a rank goes longer than
// the bound without a word, so that one rank that hangs does not hold the others for ever.
#ifndef ZEBCLI_MPI_MPIRELEASE_H
#define ZEBCLI_MPI_MPIRELEASE_H

#include "fleet/release.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace zebcli::mpi {

// This process in MPI_COMM_WORLD: its rank, the number of ranks and the host it runs on
// (MPI_Get_processor_name).
struct Rank {
    int rank = 0;
    int size = 1;
    std::string host;
};
Rank ThisRank();

// A rank's wait in a barrier may last this much longer than the bound of a pass, so that when
// a rank hangs in its pass it is the one whose watchdog fires and names itself.
inline constexpr std::chrono::seconds kBarrierGrace{10};

// Aborts the whole job (MPI_Abort) when the time armed runs out before the next Arm or
// Disarm, after a line on standard error that names the rank, its host and what it was doing.
class Watchdog {
  public:
    explicit Watchdog(Rank rank);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;
    void Arm(const std::string& what, std::chrono::milliseconds bound);
    void Disarm();

  private:
    void Watch();
    Rank m_rank;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_armed = false;
    bool m_ending = false;
    std::chrono::steady_clock::time_point m_deadline;
    std::chrono::milliseconds m_bound{0};
    std::string m_what;
    std::thread m_thread;
};

// The release of this rank's client. Every release is one MPI_Allreduce (MPI_MAX) of two votes
// per rank: whether it is still running (prepared a pass) and whether it has failed. A rank
// whose client has ended keeps voting "ended" in Finish until every rank has, so each rank
// takes part in every release. With stopOnFailure a failure anywhere stops all at the next
// release; Stopped then hands the rank to atStop, which ends the job's part of this process
// and does not return.
class MpiRelease final : public fleet::Release {
  public:
    MpiRelease(Watchdog& watchdog, std::chrono::milliseconds bound, bool stopOnFailure,
               std::function<void(int status)> atStop)
        : m_watchdog(watchdog), m_bound(bound), m_stopOnFailure(stopOnFailure),
          m_atStop(std::move(atStop)) {}
    bool Prepared(std::size_t round) override;
    void Ended(std::size_t round, bool passed) override;
    void Stopped(int status) override;
    // After the client's last pass, with its exit status: votes "ended" at every release of the
    // others until all have ended. Returns whether any rank failed.
    bool Finish(int status);
    // Whether this rank was told to stop at a release.
    bool WasStopped() const { return m_stopped; }

  private:
    // One release: this rank's votes in, every rank's combined out.
    void Vote(bool running, bool& anyRunning, bool& anyFailed);
    Watchdog& m_watchdog;
    std::chrono::milliseconds m_bound;
    bool m_stopOnFailure;
    std::function<void(int)> m_atStop;
    bool m_failed = false;
    bool m_stopped = false;
};

} // namespace zebcli::mpi

#endif
