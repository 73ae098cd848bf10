// The three runs of zebcli, each driving the engine exactly as the control dialog's Start
// does, with the console as the message board.
#ifndef ZEBCLI_RUNNER_H
#define ZEBCLI_RUNNER_H

#include "boardtexts.h"
#include "console.h"
#include "fleet/release.h"
#include "options.h"
#include "progress.h"
#include "recorder.h"
#include "summary.h"

#include <functional>
#include <mutex>
#include <vector>

namespace zebcli {

// A client released together with others: its release, what ends the process when the
// release says to stop (it writes the passes completed and does not return), and the passes
// released so far.
struct Released {
    fleet::Release* release = nullptr;
    std::function<void()> stop;
    std::size_t rounds = 0;
};

// The buffer-size sweep: one file I/O pass per size from fromSize while not above toSize,
// stopping when a pass reports that the test file cannot be opened. Each pass is appended to
// runs as it starts, with the outcome Outcome::EndedByEngine until it returns.
// stopping, when set, is asked before each pass; once it says so, no further pass runs. The
// runs change under RunsMutex(). With released, each pass waits for its release at its heading
// (the test file checked and open, no transfer made) and says when it ended. Returns false
// when a pass could not open the test file.
bool RunFileIoSweep(const Options& options, ConsoleBoard& board, Progress& progress,
                    Recorder& recorder, std::vector<RunRecord>& runs,
                    const std::function<bool()>& stopping = {}, Released* released = nullptr);
// Held while the sweep changes its runs, so that another thread can take them whole.
std::mutex& RunsMutex();

// The buffer sizes of the sweep as the engine uses them.
std::vector<std::uint32_t> SweepBufferSizes(const Options& options);

// This station as the NetBIOS sender.
std::vector<RunRecord> RunSender(const Options& options, ConsoleBoard& board, Progress& progress,
                                 Recorder& recorder);

// This station as the NetBIOS receiver.
std::vector<RunRecord> RunReceiver(const Options& options, ConsoleBoard& board, Progress& progress,
                                   Recorder& recorder);

// The outcome of a file I/O pass, from what the engine returned and posted, and how many
// failures it posted during the pass: the pass is judged by its own failures, not by the
// engine's verdict text, which stays "failed" once any pass of the process failed.
Outcome FileIoOutcome(int engineResult, const std::vector<std::string>& texts,
                      std::uint64_t failures);

// The outcome of a receive run, from what the engine posted.
Outcome ReceiveOutcome(int engineResult, const std::vector<std::string>& texts);

// The board text the dialog shows after a send, printed after the sender's run.
using boardtext::SenderBoardText;

} // namespace zebcli

#endif
