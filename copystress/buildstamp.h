// When this vor32 was built, for its banner: the date and time as __DATE__ and __TIME__ would
// show them ("Dec  9 2026", "04:05:06"). Generated at every build, just before the link.
#ifndef VOR32_BUILDSTAMP_H
#define VOR32_BUILDSTAMP_H

namespace vor32 {

extern const char kBuildDate[];
extern const char kBuildTime[];

} // namespace vor32

#endif
