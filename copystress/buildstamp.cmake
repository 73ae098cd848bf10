# Writes vor32's build stamp to OUTPUT (run with cmake -P at every build). The time is now,
# or SOURCE_DATE_EPOCH when it is set (then in UTC, as compilers do). The file is rewritten
# only when its text changes, so a reproducible build does not relink vor32.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(utc UTC)
endif()
string(TIMESTAMP month "%b" ${utc})
string(TIMESTAMP day "%d" ${utc})
string(TIMESTAMP year "%Y" ${utc})
string(TIMESTAMP time "%H:%M:%S" ${utc})
string(REGEX REPLACE "^0" " " day "${day}")
file(CONFIGURE OUTPUT "${OUTPUT}" CONTENT [[
// Written by buildstamp.cmake at build time.
#include "buildstamp.h"

namespace vor32 {

extern const char kBuildDate[] = "${month} ${day} ${year}";
extern const char kBuildTime[] = "${time}";

} // namespace vor32
]])
