// The three runs of zebcli, each driving the engine exactly as the control dialog's Start
// does, with the console as the message board.
#ifndef ZEBCLI_RUNNER_H
#define ZEBCLI_RUNNER_H

#include "boardtexts.h"
#include "console.h"
#include "options.h"
#include "progress.h"
#include "summary.h"

#include <vector>

namespace zebcli {

// The buffer-size sweep: one file I/O pass per size from fromSize while not above toSize,
// stopping when a pass reports that the test file cannot be opened. Each pass is appended to
// runs as it starts, with the outcome kEndedByEngine until it returns.
void RunFileIoSweep(const Options& options, ConsoleBoard& board, Progress& progress,
                    std::vector<RunRecord>& runs);
inline constexpr char kEndedByEngine[] = "process ended by the engine";

// The buffer sizes of the sweep as the engine uses them.
std::vector<std::uint32_t> SweepBufferSizes(const Options& options);

// This station as the NetBIOS sender.
std::vector<RunRecord> RunSender(const Options& options, ConsoleBoard& board, Progress& progress);

// This station as the NetBIOS receiver.
std::vector<RunRecord> RunReceiver(const Options& options, ConsoleBoard& board, Progress& progress);

// The outcome of a file I/O pass, from what the engine returned and posted, and how many
// failures it posted during the pass: the pass is judged by its own failures, not by the
// engine's verdict text, which stays "failed" once any pass of the process failed.
std::string FileIoOutcome(int engineResult, const std::vector<std::string>& texts,
                          std::uint64_t failures);

// The outcome of a receive run, from what the engine posted.
std::string ReceiveOutcome(int engineResult, const std::vector<std::string>& texts);

// The lines printed after the runs: one per pass or session and the totals.
std::vector<std::string> EndSummary(const Options& options, const std::vector<RunRecord>& runs);

// The board text the dialog shows after a send, printed after the sender's run.
using boardtext::SenderBoardText;

} // namespace zebcli

#endif
