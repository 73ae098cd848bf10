// The engine's shared state and its one status output. Every message of every test passes
// through PostStatus on its way to the summary, report.txt, the compatibility log and the
// message board.
#ifndef ZEB_ENGINE_STATUS_H
#define ZEB_ENGINE_STATUS_H

#include <cstddef>
#include <cstdint>

struct ZebWindow;

enum StatusLevel : std::uint16_t {
    LEVEL_PROGRESS = 0,       // progress, headings, pass messages
    LEVEL_FAILURE = 9,        // a failure: result code 2, compatibility log
    LEVEL_SUMMARY = 100,      // the sender's rate summary: kept in SummaryBuffer
    LEVEL_DATA_FAILURE = 101, // the receiver's byte-pair mismatch: as a failure
};

constexpr std::size_t MESSAGE_BUFFER_SIZE = 304;
constexpr std::size_t SUMMARY_BUFFER_SIZE = 120;
constexpr std::size_t PATTERN_BUFFER_SIZE = 65536;

// Scratch text: engine routines format a message here, then post it.
extern char MessageBuffer[MESSAGE_BUFFER_SIZE];
// The last text posted at level 100.
extern char SummaryBuffer[SUMMARY_BUFFER_SIZE];
// Shared data buffer: the NetBIOS block pattern, and the file I/O buffer. Page-aligned, so
// that O_DIRECT transfers can take it as it is.
constexpr std::size_t PATTERN_BUFFER_ALIGNMENT = 4096;
alignas(PATTERN_BUFFER_ALIGNMENT) extern unsigned char PatternBuffer[PATTERN_BUFFER_SIZE];

// Formats into MessageBuffer, cutting an over-long text to fit.
void FormatMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

void PostStatus(const char* text, std::uint16_t level);
inline void PostFailure(const char* text) {
    PostStatus(text, LEVEL_FAILURE);
}

// Dispatches every pending event of the dialog with its input disabled; never waits.
// No effect without a dialog.
void PumpMessages();

// An ownerless message box through the dialog's window services; on standard error when
// no dialog was handed over.
void ShowMessageBox(const char* caption, const char* text);

#endif
