#include "recorder.h"

#include "zebtexts.h"

#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace zebcli {

namespace {

constexpr std::size_t kRead = 0;
constexpr std::size_t kWrite = 1;
constexpr std::size_t kSend = 2;
constexpr std::size_t kReceive = 3;
constexpr const char* kLatencyNames[] = {kReadLatency, kWriteLatency, kSendLatency,
                                         kReceiveLatency};

// The slot of a failure kind (ZEB_FAILURE_*; anything else is OTHER) and its name.
std::size_t FailureSlot(int failure) {
    switch (failure) {
    case ZEB_FAILURE_BAD_PAIR:
        return 1;
    case ZEB_FAILURE_READ:
        return 2;
    case ZEB_FAILURE_WRITE:
        return 3;
    case ZEB_FAILURE_VERIFY:
        return 4;
    default:
        return 0;
    }
}
constexpr const char* kFailureNames[] = {"other", "bad_pair", "read", "write", "verify"};

void Bump(std::atomic<std::uint64_t>& counter, std::uint64_t by) {
    // One writer: a plain load and store, no locked instruction per transfer.
    counter.store(counter.load(std::memory_order_relaxed) + by, std::memory_order_relaxed);
}

} // namespace

std::uint64_t MonotonicNs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000U +
           static_cast<std::uint64_t>(now.tv_nsec);
}

Recorder::Recorder(double intervalSeconds, IntervalSink sink)
    : m_intervalNs(static_cast<std::uint64_t>(std::llround(
          std::clamp(intervalSeconds, kMinIntervalSeconds, kMaxIntervalSeconds) * 1e9))),
      m_sink(std::move(sink)) {
    Start();
    SetEventObserver(&Recorder::Observe, this);
}

Recorder::~Recorder() {
    SetEventObserver(nullptr, nullptr);
}

void Recorder::Start(std::uint64_t originNs) {
    m_events = {};
    for (auto& h : m_latency) {
        h.Clear();
    }
    m_failureSlot = {};
    m_originNs = originNs;
    m_events.originNs = originNs;
    m_intervalStartNs = m_originNs;
    m_current = {};
    m_intervalLatency.Clear();
    m_passLatency.Clear();
    m_liveOperations = 0;
    m_liveBytes = 0;
    m_liveFailures = 0;
    m_liveP99 = 0;
    m_liveOrigin = m_originNs;
}

PassEvents Recorder::Take(std::uint64_t endNs) {
    const std::uint64_t end = std::max(endNs, m_intervalStartNs);
    AdvanceTo(end);
    if (end > m_intervalStartNs || m_current.operations > 0 || m_current.failures > 0) {
        CloseInterval(end);
    }
    for (std::size_t i = 0; i < m_latency.size(); ++i) {
        if (m_latency[i].Count() > 0) {
            m_events.latency.emplace(kLatencyNames[i], m_latency[i]);
        }
    }
    PassEvents events = std::move(m_events);
    Start();
    return events;
}

LiveFigures Recorder::Live() const {
    LiveFigures live;
    live.operations = m_liveOperations.load(std::memory_order_relaxed);
    live.bytes = m_liveBytes.load(std::memory_order_relaxed);
    live.failures = m_liveFailures.load(std::memory_order_relaxed);
    live.p99Ns = m_liveP99.load(std::memory_order_relaxed);
    const std::uint64_t origin = m_liveOrigin.load(std::memory_order_relaxed);
    const std::uint64_t now = MonotonicNs();
    live.seconds = now > origin ? static_cast<double>(now - origin) / 1e9 : 0.0;
    return live;
}

void Recorder::Observe(void* context, const ZebEvent* event) {
    static_cast<Recorder*>(context)->OnEvent(*event);
}

void Recorder::OnEvent(const ZebEvent& event) {
    if (event.kind == ZEB_EVENT_FAILURE) {
        OnFailure(event);
    } else {
        OnTransfer(event);
    }
}

void Recorder::OnTransfer(const ZebEvent& event) {
    // A transfer belongs to the interval in which it ended.
    AdvanceTo(event.start_ns + event.duration_ns);
    std::size_t kind = kRead;
    TransferCounts* counts = &m_events.reads;
    switch (event.kind) {
    case ZEB_EVENT_WRITE:
        kind = kWrite;
        counts = &m_events.writes;
        break;
    case ZEB_EVENT_SEND:
        kind = kSend;
        counts = &m_events.sends;
        break;
    case ZEB_EVENT_RECEIVE:
        kind = kReceive;
        counts = &m_events.receives;
        break;
    default:
        break;
    }
    if (m_events.firstTransferNs == 0 || event.start_ns < m_events.firstTransferNs) {
        m_events.firstTransferNs = event.start_ns;
    }
    ++counts->operations;
    counts->bytes += event.moved;
    if (event.ok == 0) {
        ++counts->failed;
        if (m_events.cause.empty() && event.text != nullptr) {
            m_events.cause = event.text;
        }
    }
    m_latency[kind].Add(event.duration_ns);
    m_intervalLatency.Add(event.duration_ns);
    ++m_current.operations;
    m_current.bytes += event.moved;
    Bump(m_liveOperations, 1);
    Bump(m_liveBytes, event.moved);
}

void Recorder::OnFailure(const ZebEvent& event) {
    if (m_failureTap) {
        m_failureTap(event);
    }
    // The engine's verdict is posted as a failure too; it judges the process so far, not the
    // pass.
    if (event.text != nullptr && std::strcmp(event.text, zebtext::kFileIoFailed) == 0) {
        return;
    }
    AdvanceTo(event.start_ns);
    ++m_events.failures;
    ++m_current.failures;
    Bump(m_liveFailures, 1);
    const std::size_t slot = FailureSlot(event.failure);
    if (m_failureSlot[slot] == 0) {
        FailureRecord record;
        record.kind = kFailureNames[slot];
        record.expected = event.expected;
        record.actual = event.actual;
        record.text = event.text != nullptr ? event.text : "";
        m_events.failureKinds.push_back(std::move(record));
        m_failureSlot[slot] = static_cast<int>(m_events.failureKinds.size());
    }
    FailureRecord& record = m_events.failureKinds[m_failureSlot[slot] - 1];
    ++record.count;
    if (event.offset >= 0) {
        if (record.firstOffset < 0) {
            record.firstOffset = event.offset;
        }
        record.lastOffset = event.offset;
    }
}

void Recorder::AdvanceTo(std::uint64_t ns) {
    while (ns >= m_intervalStartNs + m_intervalNs) {
        CloseInterval(m_intervalStartNs + m_intervalNs);
    }
}

void Recorder::CloseInterval(std::uint64_t endNs) {
    m_current.startSeconds = static_cast<double>(m_intervalStartNs - m_originNs) / 1e9;
    m_current.seconds = static_cast<double>(endNs - m_intervalStartNs) / 1e9;
    if (m_intervalLatency.Count() > 0) {
        m_current.p50Ns = m_intervalLatency.Percentile(50);
        m_current.p99Ns = m_intervalLatency.Percentile(99);
        m_current.maxNs = m_intervalLatency.Max();
        m_passLatency.Merge(m_intervalLatency);
        m_liveP99.store(m_passLatency.Percentile(99), std::memory_order_relaxed);
        m_intervalLatency.Clear();
    }
    if (m_sink) {
        m_sink(m_current);
    }
    if (m_events.intervals.size() < kMaxIntervals) {
        m_events.intervals.push_back(m_current);
    } else {
        ++m_events.intervalsNotKept;
    }
    m_current = {};
    m_intervalStartNs = endNs;
}

} // namespace zebcli
