// The events' clock: the time stamp counter scaled to CLOCK_MONOTONIC, or CLOCK_MONOTONIC.
#include "eventclock.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "zebdll.h"

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#define ZEB_HAVE_TSC 1
#else
#define ZEB_HAVE_TSC 0
#endif

namespace {

constexpr std::uint64_t kAnchorNs = 10000000; // 10 ms between anchors
// An anchor whose two counter readings lie further apart than this (the thread was preempted
// between them) is read again.
constexpr std::uint64_t kAnchorWindowNs = 2000;

std::uint64_t Monotonic() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u +
           static_cast<std::uint64_t>(now.tv_nsec);
}

bool HasWord(std::string_view text, std::string_view word) {
    for (std::size_t at = text.find(word); at != std::string_view::npos;
         at = text.find(word, at + 1)) {
        const bool startsWord = at == 0 || text[at - 1] == ' ' || text[at - 1] == '\t';
        const std::size_t end = at + word.size();
        const bool endsWord =
            end == text.size() || text[end] == ' ' || text[end] == '\t' || text[end] == '\n';
        if (startsWord && endsWord) {
            return true;
        }
    }
    return false;
}

// The first line of path that begins with prefix, into line (cut at its size); empty if none.
std::string_view ReadLine(const char* path, const char* prefix, char* line, std::size_t size) {
    std::FILE* file = std::fopen(path, "re");
    if (file == nullptr) {
        return {};
    }
    std::string_view found;
    while (std::fgets(line, static_cast<int>(size), file) != nullptr) {
        if (std::strncmp(line, prefix, std::strlen(prefix)) == 0) {
            found = line;
            break;
        }
    }
    std::fclose(file);
    return found;
}

enum class Source { Unknown, Monotonic, Counter };

struct Clock {
    Source source = Source::Unknown;
    std::uint64_t firstTicks = 0; // the first anchor, which the rate is measured from
    std::uint64_t firstNs = 0;
    std::uint64_t anchorTicks = 0; // the last anchor
    std::uint64_t anchorNs = 0;
    bool rated = false; // a rate, from an anchor at least 10 ms after the first
    double nsPerTick = 0;
    std::uint64_t anchorTicksSpan = UINT64_MAX; // counter ticks in kAnchorNs
    std::uint64_t windowTicks = 0;              // ticks in kAnchorWindowNs
    std::uint64_t last = 0;                     // the last reading given
} State;

#if ZEB_HAVE_TSC
// The counter and CLOCK_MONOTONIC read together: the clock between two counter readings, the
// counter taken at their middle. Of up to four tries the one whose counter readings lie
// closest is taken, and the first that lies within kAnchorWindowNs ends the tries (before
// the counter's rate is known, all four are made).
void Anchor() {
    std::uint64_t bestWindow = UINT64_MAX;
    for (int attempt = 0; attempt < 4 && bestWindow > State.windowTicks; ++attempt) {
        const std::uint64_t before = __rdtsc();
        const std::uint64_t ns = Monotonic();
        const std::uint64_t after = __rdtsc();
        if (after - before < bestWindow) {
            bestWindow = after - before;
            State.anchorTicks = before + (after - before) / 2;
            State.anchorNs = ns;
        }
    }
    if (State.firstNs == 0) {
        State.firstTicks = State.anchorTicks;
        State.firstNs = State.anchorNs;
    } else if (State.anchorNs - State.firstNs >= kAnchorNs &&
               State.anchorTicks > State.firstTicks) {
        // The rate over all the time since the first anchor: its error shrinks as it runs.
        State.nsPerTick = static_cast<double>(State.anchorNs - State.firstNs) /
                          static_cast<double>(State.anchorTicks - State.firstTicks);
        State.rated = true;
        State.anchorTicksSpan = static_cast<std::uint64_t>(kAnchorNs / State.nsPerTick);
        State.windowTicks = static_cast<std::uint64_t>(kAnchorWindowNs / State.nsPerTick);
    }
}
#endif

void ChooseSource() {
    char source[64];
    char flags[8192];
    const bool counter =
        ZEB_HAVE_TSC &&
        TimeStampCounterUsable(
            ReadLine("/sys/devices/system/clocksource/clocksource0/current_clocksource", "", source,
                     sizeof source),
            ReadLine("/proc/cpuinfo", "flags", flags, sizeof flags));
    State.source = counter ? Source::Counter : Source::Monotonic;
}

std::uint64_t Reading() {
#if ZEB_HAVE_TSC
    if (State.source == Source::Counter) {
        const std::uint64_t ticks = __rdtsc();
        const std::uint64_t since = ticks - State.anchorTicks;
        if (!State.rated || since >= State.anchorTicksSpan) {
            // Not yet a rate, or an anchor 10 ms old (or a counter behind the anchor, which
            // reads as far beyond it): the clock itself, and a new anchor.
            Anchor();
            return State.anchorNs;
        }
        return State.anchorNs +
               static_cast<std::uint64_t>(static_cast<double>(since) * State.nsPerTick);
    }
#endif
    if (State.source == Source::Unknown) {
        ChooseSource();
        return Reading();
    }
    return Monotonic();
}

} // namespace

bool TimeStampCounterUsable(std::string_view clocksource, std::string_view cpuFlags) {
    while (!clocksource.empty() && (clocksource.back() == '\n' || clocksource.back() == ' ')) {
        clocksource.remove_suffix(1);
    }
    return clocksource == "tsc" && HasWord(cpuFlags, "constant_tsc") &&
           HasWord(cpuFlags, "nonstop_tsc");
}

std::uint64_t EventNanoseconds() {
    std::uint64_t now = Reading();
    // A new anchor may lie a little behind what the old one extrapolated to: time never runs
    // back.
    if (now < State.last) {
        now = State.last;
    }
    State.last = now;
    return now;
}

extern "C" const char* EventClockName(void) {
    if (State.source == Source::Unknown) {
        ChooseSource();
    }
    return State.source == Source::Counter ? "CLOCK_MONOTONIC from the TSC" : "CLOCK_MONOTONIC";
}
