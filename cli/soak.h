// Soak runs: the file I/O sweep repeated (--repeat N, --duration D) and ended by Ctrl-C. The
// first SIGINT ends the run after the pass under way, with every result written; a second one
// ends it at once, with the passes completed so far written.
#ifndef ZEBCLI_SOAK_H
#define ZEBCLI_SOAK_H

#include "console.h"
#include "options.h"
#include "progress.h"
#include "recorder.h"
#include "records.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

namespace zebcli {

inline constexpr std::uint32_t kMaxRepeat = 100000;
inline constexpr double kMaxDurationSeconds = 7 * 24 * 3600;

// A duration of --duration: a whole number with s, m, h or d after it ("30s", "10m", "2h"),
// or of seconds alone; nothing outside 1 s .. 7 d.
std::optional<double> ParseDuration(std::string_view text);

// The sweep of options, run options.repeat times or, with a duration, again until it has
// passed; each run checks before every pass whether to stop (Ctrl-C, the duration over). A
// pass that cannot open the test file ends it all.
// With released, every pass waits for its release (RunFileIoSweep).
struct Released;
void RunSoak(const Options& options, ConsoleBoard& board, Progress& progress, Recorder& recorder,
             std::vector<RunRecord>& runs, Released* released = nullptr);

// Installs the SIGINT handler (async-signal-safe: it counts and writes a byte to a pipe). A
// thread of its own calls first at the first signal and second at the second; second is to
// end the process.
void HandleInterrupts(std::function<void()> first, std::function<void()> second);

// Whether a SIGINT came.
bool Interrupted();

} // namespace zebcli

#endif
