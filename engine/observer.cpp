// The observer of a runner other than the dialog, and the records the engine hands it.
#include "observer.h"

#include "eventclock.h"

ZebEventObserver EventObserver = nullptr;

namespace {

void* ObserverContext = nullptr;

// The details of the failure about to be posted.
struct PendingFailure {
    int failure = ZEB_FAILURE_OTHER;
    long long offset = -1;
    int expected = -1;
    int actual = -1;
} Pending;

} // namespace

void ObserveTransfer(int kind, unsigned asked, ssize_t moved, bool ok, long long offset,
                     std::uint64_t start, std::uint64_t end, int error, const char* cause) {
    if (EventObserver == nullptr) {
        return;
    }
    ZebEvent event{};
    event.kind = kind;
    event.ok = ok ? 1 : 0;
    event.error = moved < 0 ? error : 0;
    event.asked = asked;
    event.moved = moved > 0 ? static_cast<unsigned>(moved) : 0;
    event.offset = offset;
    event.start_ns = start;
    event.duration_ns = end - start;
    event.failure = ZEB_FAILURE_OTHER;
    event.expected = -1;
    event.actual = -1;
    event.text = ok ? nullptr : cause;
    EventObserver(ObserverContext, &event);
}

void NoteFailure(int failure, long long offset, int expected, int actual) {
    Pending = {failure, offset, expected, actual};
}

void ObserveFailure(const char* text) {
    const PendingFailure details = Pending;
    Pending = {};
    if (EventObserver == nullptr) {
        return;
    }
    ZebEvent event{};
    event.kind = ZEB_EVENT_FAILURE;
    event.offset = details.offset;
    event.start_ns = EventNanoseconds();
    event.failure = details.failure;
    event.expected = details.expected;
    event.actual = details.actual;
    event.text = text;
    EventObserver(ObserverContext, &event);
}

extern "C" void SetEventObserver(ZebEventObserver observer, void* context) {
    EventObserver = observer;
    ObserverContext = context;
}
