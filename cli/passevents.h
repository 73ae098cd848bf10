// What the engine tells zebcli of each pass through its observer: the transfers the pass made
// of its test file (what they asked, what they moved, which failed) and the failures posted.
// A pass's counts, rates and verdict come from here, not from its parameters.
#ifndef ZEBCLI_PASSEVENTS_H
#define ZEBCLI_PASSEVENTS_H

#include "zebdll.h"

#include <cstdint>
#include <string>

namespace zebcli {

// The reads or the writes of one pass.
struct TransferCounts {
    std::uint64_t operations = 0;
    std::uint64_t failed = 0; // failed, or moved fewer bytes than asked
    std::uint64_t bytes = 0;  // bytes moved
};

struct PassEvents {
    TransferCounts reads;
    TransferCounts writes;
    std::uint64_t failures = 0; // failure texts posted, the verdict "File I/O Failed" not counted
    std::string cause;          // the first failed transfer's cause, in words
};

// Observes the engine from construction to destruction (one at a time).
class PassObserver {
  public:
    PassObserver();
    ~PassObserver();
    PassObserver(const PassObserver&) = delete;
    PassObserver& operator=(const PassObserver&) = delete;

    // What was observed since the last call; starts anew.
    PassEvents Take();

  private:
    static void OnEvent(void* context, const ZebEvent* event);
    PassEvents m_events;
};

} // namespace zebcli

#endif
