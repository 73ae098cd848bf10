// The release of clients that run together: every client prepares its pass (connects, checks
// or creates its test file), says so, and waits; once all are prepared they are released at
// once. The runner calls a client's Release at the heading of each pass, after the engine's
// check of the test file and before its first transfer. zebcli fileio --clients releases its
// forked clients through pipes (PipeRelease, fork.h); a front end of its own (one client per
// rank of a parallel job, say) implements the same interface with its own barrier.
#ifndef ZEBCLI_FLEET_RELEASE_H
#define ZEBCLI_FLEET_RELEASE_H

#include <chrono>
#include <cstddef>

namespace zebcli::fleet {

class Release {
  public:
    virtual ~Release() = default;
    // This client has prepared its pass number round (0, 1, ...): returns true once every
    // client still running is released, false when the run is to end here (another client
    // failed and the run stops on failure, or the release itself was lost).
    virtual bool Prepared(std::size_t round) = 0;
    // This client's pass number round has ended, passed or not.
    virtual void Ended(std::size_t round, bool passed) = 0;
    // This client was told to stop at a release and has written its results; its process ends
    // with status once this returns. A release that has more to do before the process ends
    // (a parallel job's remaining barriers and its gathering of results) does it here.
    virtual void Stopped(int status) { (void)status; }
};

// A forked client's side of the release: it writes "ready R" and "ended R passed|failed"
// lines to its parent and reads "go" or "stop" lines back, waiting at most bound for one.
class PipeRelease final : public Release {
  public:
    PipeRelease(int toParent, int fromParent, std::chrono::milliseconds bound)
        : m_toParent(toParent), m_fromParent(fromParent), m_bound(bound) {}
    bool Prepared(std::size_t round) override;
    void Ended(std::size_t round, bool passed) override;

  private:
    int m_toParent;
    int m_fromParent;
    std::chrono::milliseconds m_bound;
};

// The lines of the pipes, in one place for both sides.
inline constexpr char kReadyWord[] = "ready";
inline constexpr char kEndedWord[] = "ended";
inline constexpr char kGoLine[] = "go\n";
inline constexpr char kStopLine[] = "stop\n";
// The longest line either side sends, newline included.
inline constexpr std::size_t kMaxControlLine = 64;

} // namespace zebcli::fleet

#endif
