// Where zebcli's results go (--json, --csv, --plot, --json-stream, --series): every path is checked
// before the run starts, and every file is written whole or not at all, through a temporary file of
// its own in the target's directory and a rename that replaces only a regular file (never a device,
// a FIFO, a directory, or a symbolic link or what it points to). "-" is standard output.
#ifndef ZEBCLI_RESULTSFILE_H
#define ZEBCLI_RESULTSFILE_H

#include <string>
#include <string_view>

namespace zebcli {

// The name that stands for standard output (every results file but --plot).
inline constexpr std::string_view kStandardOutput = "-";

// Why path cannot take a results file, in words; empty when it can: a regular file this
// process may replace, or no file, in a directory it can write.
std::string ResultsPathRefusal(const std::string& path);

// Whether two paths name one file: the same name in the same directory, as written once
// normalised ("./x" and "x") or as the file system has it (a directory reached through a
// symbolic link).
bool SameFile(const std::string& a, const std::string& b);

// Writes text to path whole or not at all: into a new temporary file (mkstemp: created
// exclusively, a planted link is never followed) in path's directory, synced, then renamed over
// path once path is seen again to be a regular file or none. An error text, empty on success.
std::string WriteWholeFile(const std::string& path, std::string_view text);

// Opens the stream of a results file written during the run (--json-stream) the way
// WriteWholeFile writes one: a new temporary file beside path, renamed over path at once (so
// only a regular file is ever replaced, and never through a link); what is written to fd then
// appears in path as it goes. An error text, empty on success with fd set.
std::string OpenStreamFile(const std::string& path, int& fd);

// Writes all of text to the descriptor fd; an error text, empty on success.
std::string WriteAll(int fd, std::string_view text);

// Keeps standard output for a document written to "-", and sends everything printed on it from
// now on (the engine's lines, the summary) to standard error. The descriptor that holds the
// document's standard output, or -1 with errno.
int DivertStandardOutput();

} // namespace zebcli

#endif
