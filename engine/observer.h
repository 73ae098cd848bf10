// The engine's side of SetEventObserver: the transfers of a pass and the failures it posts,
// told to the caller's observer. With no observer set, each report costs one test.
#ifndef ZEB_ENGINE_OBSERVER_H
#define ZEB_ENGINE_OBSERVER_H

#include <cstdint>
#include <sys/types.h>

#include "zebdll.h"

extern ZebEventObserver EventObserver;

inline bool Observed() {
    return EventObserver != nullptr;
}

// One transfer of the test file: moved is what the call returned (-1: it failed with error).
void ObserveTransfer(int kind, unsigned asked, ssize_t moved, bool ok, long long offset,
                     std::uint64_t start, std::uint64_t end, int error, const char* cause);

// What the next failure posted is about: its kind (ZEB_FAILURE_*), the offset it reports, a
// bad pair's bytes. Taken by the next ObserveFailure; a failure with none noted is OTHER.
void NoteFailure(int failure, long long offset, int expected = -1, int actual = -1);

// A failure text as it is posted.
void ObserveFailure(const char* text);

#endif
