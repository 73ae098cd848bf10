// The banner and usage text of vor32, console only.
#ifndef VOR32_USAGE_H
#define VOR32_USAGE_H

namespace vor32 {

// Prints the banner, the description when describe is set, and the usage text.
void Usage(bool describe);

} // namespace vor32

#endif
