// One process's run of zebcli's tests, as a command runs it or as one client of several runs
// it: every results file checked before anything runs, the engine driven with the console
// as its board, then the end summary and the results files; Ctrl-C and the engine's own end
// of the process leave whole results too.
#ifndef ZEBCLI_PROCESSRUN_H
#define ZEBCLI_PROCESSRUN_H

#include "options.h"
#include "runner.h"

#include <string>
#include <vector>

namespace zebcli {

// Every results file of options can be written where it is to go, and a document for
// standard output ("-") has it to itself: the exit status to end with, or -1 to run.
int PrepareResults(const Options& options);

// Before a file I/O run: the authentication file handed to the engine (through the
// environment, never a command line) and a direct-I/O sweep the local file system cannot take
// refused: the exit status to end with (the refusal on standard error), or -1 to run.
int PrepareFileIo(const Options& options);

// Writes one results file (or the document for standard output) whole; false, and a message
// on standard error, when it could not be written.
bool WriteResult(const std::string& path, const std::string& text);

// The run of options (commandLine as the results record it); with released, as a client
// released with others at every pass. Returns the exit status.
int RunProcess(const Options& options, const std::vector<std::string>& commandLine,
               Released* released);

} // namespace zebcli

#endif
