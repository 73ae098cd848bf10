// The events' clock against CLOCK_MONOTONIC, and when the time stamp counter may stand for it.
#include "eventclock.h"
#include "zebdll.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <unistd.h>

namespace {

std::uint64_t Monotonic() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u +
           static_cast<std::uint64_t>(now.tv_nsec);
}

// Every reading over 150 ms, through many anchors and pauses long and short, lies between
// the clock readings around it (within the bound) and never runs back.
TEST(EventClock, AgreesWithClockMonotonicAndNeverRunsBack) {
    const std::string name = EventClockName();
    EXPECT_TRUE(name == "CLOCK_MONOTONIC" || name == "CLOCK_MONOTONIC from the TSC") << name;
    const std::uint64_t end = Monotonic() + 150000000;
    std::uint64_t last = 0;
    unsigned readings = 0;
    for (std::uint64_t before = Monotonic(); before < end; before = Monotonic()) {
        const std::uint64_t event = EventNanoseconds();
        const std::uint64_t after = Monotonic();
        ASSERT_GE(event + kEventClockBoundNs, before) << readings;
        ASSERT_LE(event, after + kEventClockBoundNs) << readings;
        ASSERT_GE(event, last) << readings;
        last = event;
        if (++readings % 5000 == 0) {
            usleep(readings % 3 == 0 ? 12000 : 700);
        }
    }
    EXPECT_GT(readings, 10000u);
}

TEST(EventClock, TheCounterOnlyWhereTheKernelUsesItAndItsRateIsConstant) {
    struct Row {
        const char* clocksource;
        const char* flags;
        bool usable;
    };
    for (const Row& row : {
             Row{"tsc\n", "flags\t\t: fpu constant_tsc rep_good nonstop_tsc cpuid\n", true},
             Row{"tsc", "flags : nonstop_tsc constant_tsc", true},
             Row{"hpet\n", "flags : constant_tsc nonstop_tsc\n", false},
             Row{"kvm-clock\n", "flags : constant_tsc nonstop_tsc\n", false},
             Row{"tsc\n", "flags : constant_tsc\n", false},
             Row{"tsc\n", "flags : constant_tsc_x nonstop_tsc\n", false},
             Row{"tsc\n", "flags : constant_tsc xnonstop_tsc\n", false},
             Row{"", "", false},
         }) {
        SCOPED_TRACE(std::string(row.clocksource) + " / " + row.flags);
        EXPECT_EQ(TimeStampCounterUsable(row.clocksource, row.flags), row.usable);
    }
}

} // namespace
