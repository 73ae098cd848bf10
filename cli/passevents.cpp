#include "passevents.h"

#include "zebtexts.h"

#include <cstring>
#include <utility>

namespace zebcli {

PassObserver::PassObserver() {
    SetEventObserver(&PassObserver::OnEvent, this);
}

PassObserver::~PassObserver() {
    SetEventObserver(nullptr, nullptr);
}

PassEvents PassObserver::Take() {
    return std::exchange(m_events, {});
}

void PassObserver::OnEvent(void* context, const ZebEvent* event) {
    PassEvents& events = static_cast<PassObserver*>(context)->m_events;
    if (event->kind == ZEB_EVENT_FAILURE) {
        // The engine's verdict is posted as a failure too; it judges the process so far, not
        // the pass.
        if (event->text == nullptr || std::strcmp(event->text, zebtext::kFileIoFailed) != 0) {
            ++events.failures;
        }
        return;
    }
    TransferCounts& counts = event->kind == ZEB_EVENT_WRITE ? events.writes : events.reads;
    ++counts.operations;
    counts.bytes += event->moved;
    if (event->ok == 0) {
        ++counts.failed;
        if (events.cause.empty() && event->text != nullptr) {
            events.cause = event->text;
        }
    }
}

} // namespace zebcli
