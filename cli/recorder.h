// The one observer zebcli sets on the engine: of each pass or session it keeps the transfers
// (what they asked, what they moved, which failed, how long each took), the failures posted by
// kind, and the run cut into intervals on the engine's clock. A pass's counts, rates, verdict,
// latency and time line come from here, not from its parameters.
#ifndef ZEBCLI_RECORDER_H
#define ZEBCLI_RECORDER_H

#include "histogram.h"
#include "records.h"
#include "zebdll.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zebcli {

// The intervals a run is cut into: one second unless --interval says otherwise, within these
// bounds; a run keeps at most kMaxIntervals of them (the interval sink still sees every one).
inline constexpr double kDefaultIntervalSeconds = 1;
inline constexpr double kMinIntervalSeconds = 0.01;
inline constexpr double kMaxIntervalSeconds = 3600;
inline constexpr std::size_t kMaxIntervals = 1'000'000;

// CLOCK_MONOTONIC in nanoseconds: the scale of the engine's clock for its events (whose name
// the results give, EventClockName), and where a pass's intervals begin and end.
std::uint64_t MonotonicNs();

// What the recorder kept of one pass or session.
struct PassEvents {
    // File I/O: the reads and writes of the test file; a session: its blocks.
    TransferCounts reads;
    TransferCounts writes;
    TransferCounts sends;
    TransferCounts receives;
    std::uint64_t failures = 0; // failure texts posted, the verdict "File I/O Failed" not counted
    std::string cause;          // the first failed transfer's cause, in words
    std::map<std::string, histogram::Histogram> latency; // by kind, those that occurred
    std::vector<IntervalRecord> intervals;
    std::uint64_t intervalsNotKept = 0; // beyond kMaxIntervals
    std::vector<FailureRecord> failureKinds;
    std::uint64_t firstTransferNs = 0; // when the first transfer began (engine clock); 0: none
    std::uint64_t originNs = 0;        // the zero of the intervals (Start)
};

// The pass in progress, for the progress line.
struct LiveFigures {
    std::uint64_t operations = 0;
    std::uint64_t bytes = 0;
    std::uint64_t failures = 0;
    double seconds = 0;      // since the pass began
    std::uint64_t p99Ns = 0; // of the pass's operations up to the last interval's end
};

// Observes the engine from construction to destruction (one at a time). The engine calls it
// on the thread of the engine call; Live may be called from any thread.
class Recorder {
  public:
    // Called on the engine's thread with each interval as it ends: when the first event after
    // it arrives, or when the pass ends.
    using IntervalSink = std::function<void(const IntervalRecord&)>;

    explicit Recorder(double intervalSeconds = kDefaultIntervalSeconds, IntervalSink sink = {});
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // A pass or session begins now (at originNs of CLOCK_MONOTONIC): what was kept so far is
    // dropped.
    void Start(std::uint64_t originNs = MonotonicNs());
    // It has ended now (at endNs): its last interval is closed and everything kept since Start
    // handed over.
    PassEvents Take(std::uint64_t endNs = MonotonicNs());
    LiveFigures Live() const;
    // Told of each failure as the engine reports it, before the engine posts its text (empty:
    // none).
    void SetFailureTap(std::function<void(const ZebEvent&)> tap) { m_failureTap = std::move(tap); }

    // What the engine tells the observer (public for tests that play the engine).
    void OnEvent(const ZebEvent& event);

  private:
    static void Observe(void* context, const ZebEvent* event);
    void OnTransfer(const ZebEvent& event);
    void OnFailure(const ZebEvent& event);
    // Closes every interval that ends at or before ns.
    void AdvanceTo(std::uint64_t ns);
    void CloseInterval(std::uint64_t endNs);

    std::uint64_t m_intervalNs;
    IntervalSink m_sink;
    std::function<void(const ZebEvent&)> m_failureTap;
    PassEvents m_events;
    // The latency of each kind of transfer: read, write, send, receive.
    std::array<histogram::Histogram, 4> m_latency;
    std::array<int, 5> m_failureSlot{}; // index in m_events.failureKinds + 1 per ZEB_FAILURE_*
    std::uint64_t m_originNs = 0;
    std::uint64_t m_intervalStartNs = 0;
    IntervalRecord m_current;
    histogram::Histogram m_intervalLatency;
    histogram::Histogram m_passLatency; // every interval so far, for the live p99
    // Written by the engine's thread only, read by Live.
    std::atomic<std::uint64_t> m_liveOperations{0};
    std::atomic<std::uint64_t> m_liveBytes{0};
    std::atomic<std::uint64_t> m_liveFailures{0};
    std::atomic<std::uint64_t> m_liveP99{0};
    std::atomic<std::uint64_t> m_liveOrigin{0};
};

} // namespace zebcli

#endif
