// One client per rank of an MPI job: the rank's place in the job, the release of the clients
// through MPI (each release an MPI_Allreduce of every rank's vote, so that the barrier also
// says whether to go on), and the watchdog that aborts the job when a rank goes longer than
// the bound without a word, so that one rank that hangs does not hold the others for ever.
#ifndef ZEBCLI_MPI_MPIRELEASE_H
#define ZEBCLI_MPI_MPIRELEASE_H

#include "fleet/release.h"

#include <mpi.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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
// The other ranks wait this much longer again at a release than rank 0, which knows who has
// come to it, so that it is rank 0 that names the ranks missing there.
inline constexpr std::chrono::seconds kRootFirst{5};

// Every rank's host, in rank order (a collective: every rank calls it once).
std::vector<std::string> HostsOfRanks(const Rank& rank);

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

// The release of this rank's client. At every release each rank sends rank 0 two votes:
// whether it is still running (prepared a pass) and whether it has failed; rank 0 answers each
// with the highest of all, and that answer is the release. A
// rank whose client has ended keeps voting "ended" in Finish until every rank has, so each
// rank takes part in every release. With stopOnFailure a failure anywhere stops all at the
// next release; Stopped then hands the rank to atStop, which ends the job's part of this
// process and does not return.
//
// A rank's wait at a release is bounded by the main thread itself, not by the watchdog. A
// rank that hangs (stopped, say) cannot name itself, and a collective cannot say who has not
// come to it; rank 0, which hears every rank's votes, can. Past the bound it names the ranks
// whose votes did not come, the others name rank 0 when its answer did not, and the job is
// aborted.
class MpiRelease final : public fleet::Release {
  public:
    MpiRelease(Watchdog& watchdog, Rank rank, std::vector<std::string> hosts,
               std::chrono::milliseconds bound, bool stopOnFailure,
               std::function<void(int status)> atStop)
        : m_watchdog(watchdog), m_rank(std::move(rank)), m_hosts(std::move(hosts)), m_bound(bound),
          m_stopOnFailure(stopOnFailure), m_atStop(std::move(atStop)) {}
    bool Prepared(std::size_t round) override;
    void Ended(std::size_t round, bool passed) override;
    void Stopped(int status) override;
    // After the client's last pass, with its exit status: votes "ended" at every release of the
    // others until all have ended. Returns whether any rank failed.
    bool Finish(int status);
    // Whether this rank was told to stop at a release.
    bool WasStopped() const { return m_stopped; }

  private:
    // One release, with what this rank has come from (for the line of an abort): this rank's
    // votes in, every rank's combined out, within the bound of a wait at a release.
    void Vote(const std::string& what, bool running, bool& anyRunning, bool& anyFailed);
    // Past the bound at a release: the line that says who did not come, then MPI_Abort.
    // pending are the requests of the wait, rank 0's to each other rank in turn, or another
    // rank's to rank 0; failed says what those that are still pending did not do.
    [[noreturn]] void AbortAtRelease(const std::string& what, std::vector<MPI_Request>& pending,
                                     const char* failed,
                                     std::chrono::steady_clock::duration waited);
    Watchdog& m_watchdog;
    Rank m_rank;
    std::vector<std::string> m_hosts;
    std::chrono::milliseconds m_bound;
    bool m_stopOnFailure;
    std::function<void(int)> m_atStop;
    bool m_failed = false;
    bool m_stopped = false;
    int m_releases = 0;
};

} // namespace zebcli::mpi

#endif
