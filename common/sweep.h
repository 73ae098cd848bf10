// The buffer-size sweep of the file I/O stress, as the control dialog's Start and zebcli's
// fileio run it.
#ifndef ZEB_SWEEP_H
#define ZEB_SWEEP_H

#include "zebdll.h"

#include <cstdint>
#include <string>

namespace sweep {

// One sweep's parameters, copied before it starts: nothing that runs during a pass may change
// a sweep under way.
struct Plan {
    std::string path;
    std::uint32_t from = 0;
    std::uint32_t to = 0;
    std::uint32_t increment = 0;
    std::uint32_t iterations = 0;
    int mode = 0;
};

// Runs pass(size) for every buffer size from plan.from while not above plan.to, in steps of
// plan.increment, and stops early after a pass that returns ZEB_TEST_FILE_NOT_OPENED. pass
// runs the engine's SQL_Test with the plan and that size, and returns its result.
template <typename Pass> void Run(const Plan& plan, Pass&& pass) {
    for (std::uint32_t size = plan.from; size <= plan.to; size += plan.increment) {
        if (pass(size) == ZEB_TEST_FILE_NOT_OPENED) {
            break;
        }
        // The next size would pass the end of the 32-bit range: the sweep is over.
        if (plan.to - size < plan.increment) {
            break;
        }
    }
}

} // namespace sweep

#endif
