// The fuzz targets' check: a broken property ends the run, so that libFuzzer keeps the input.
#ifndef ZEB_FUZZ_REQUIRE_H
#define ZEB_FUZZ_REQUIRE_H

#include <cstdlib>

inline void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

#endif
