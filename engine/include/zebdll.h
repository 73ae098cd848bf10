// The engine's public interface: the eight entry points the control dialog binds by name,
// the exports for runners other than the dialog (the file I/O stress's cache mode, an
// observer of every transfer and failure), and the window services the engine needs from
// whoever hands it a window.
#ifndef ZEBDLL_H
#define ZEBDLL_H

#ifdef __cplusplus

// Window services. The window handle that GetHWND receives is a pointer to the caller's
// implementation of this interface for its dialog. The engine never owns a window and
// never links a GUI toolkit; it only calls these.
struct ZebWindow {
    // The child control of this window with the given identifier (the message board is
    // 1008), or nullptr when there is none.
    virtual ZebWindow* ChildWindow(int id) = 0;
    // Replace the window's whole text. The text is bytes: UTF-8 where valid, else Latin-1.
    virtual void SetText(const char* text) = 0;
    // Enable or disable the window's mouse and keyboard input; painting goes on.
    virtual void EnableInput(bool enable) = 0;
    // Dispatch every pending window event and return as soon as none is left; never waits.
    virtual void DispatchPendingEvents() = 0;
    // An application-modal message box with no owner window, a caption, a text and one OK
    // button; returns when the operator dismisses it.
    virtual void ShowMessageBox(const char* caption, const char* text) = 0;

  protected:
    ~ZebWindow() = default;
};

extern "C" {
#else
typedef struct ZebWindow ZebWindow;
#endif

#if defined(__GNUC__)
#define ZEB_EXPORT __attribute__((visibility("default")))
#else
#define ZEB_EXPORT
#endif

// The message board is this child control of the dialog.
#define ZEB_BOARD_ID 1008

// Result codes: no failure posted since load, and at least one failure.
#define ZEB_RESULT_PASSED 3
#define ZEB_RESULT_FAILED 2

// What the test entry points return.
// SQL_Test: the test file cannot be opened; a sweep stops here. Any other pass returns 0.
#define ZEB_TEST_FILE_NOT_OPENED 100
// SSendMain: a session ran (its summary is in GetMsgBuffer, send errors included).
#define ZEB_SESSION_RAN 1
// SSendMain: no receiver answered within 20 seconds.
#define ZEB_NO_PARTNER 10
// SSendMain and SRecvMain: this station's name could not be added.
#define ZEB_NAME_NOT_ADDED 0

// Switches appending every posted text to report.txt (1) or not (0). Returns the flag.
ZEB_EXPORT int PassSaveResult(int flag);
// Switches showing every posted text on the message board (1) or not (0). Returns the flag.
ZEB_EXPORT int PassDynaResult(int flag);
// Hands over the dialog window before a test; returns the same handle.
ZEB_EXPORT ZebWindow* GetHWND(ZebWindow* dialog);
// The last summary text (level 100); owned by the engine, copy it at once.
ZEB_EXPORT char* GetMsgBuffer(void);
// 3 while no failure was posted since the library was loaded, 2 after any failure.
ZEB_EXPORT int GetRetCode(void);

// One file I/O stress pass over the test file at path with buffer size `buffer` (odd sizes
// are lowered by one). upper and increment are the caller's sweep, shown in the heading.
// mode is the access pattern 0-8, iterations the number of operations. Returns
// ZEB_TEST_FILE_NOT_OPENED when the test file cannot be opened (stop the sweep), else 0.
ZEB_EXPORT int SQL_Test(const char* path, unsigned buffer, unsigned upper, unsigned increment,
                        int mode, unsigned iterations);

// How the file I/O stress reaches the test file, for the passes that follow (the control
// dialog never calls this and always runs plain):
//   ZEB_CACHE_PLAIN  (0) ordinary reads and writes, through the client's page cache;
//   ZEB_CACHE_DIRECT (1) the test file opened with O_DIRECT for the pass and its checks;
//   ZEB_CACHE_DROP   (2) the cached pages of a range dropped before every read of it, and
//                        every write made durable before the next operation.
// Returns the mode in force afterwards: an unknown mode changes nothing.
#define ZEB_CACHE_PLAIN 0
#define ZEB_CACHE_DIRECT 1
#define ZEB_CACHE_DROP 2
ZEB_EXPORT int SetFileCacheMode(int mode);

// The random patterns (Random Read, Write, R & W) draw their offsets from a generator seeded
// at the start of each pass with the time in seconds; offset is added to that seed for the
// passes that follow (0, the default, is the dialog's seeding; the dialog never calls this).
// Processes that run passes in the same second at once give each a different offset so that
// they do not draw the same offsets. Returns the offset in force before.
ZEB_EXPORT unsigned SetRandomSeedOffset(unsigned offset);

// What the engine tells an observer (SetEventObserver), one record per event; the dialog never
// sets one. Transfers, timed on CLOCK_MONOTONIC:
//   ZEB_EVENT_READ, ZEB_EVENT_WRITE  every read and write that a file I/O pass makes of its test
//                                    file (not the checks before and after the pass), and a
//                                    size query of it that failed where a sequential read
//                                    looks for the file's end, as a failed read with asked
//                                    and moved 0;
//   ZEB_EVENT_SEND                   every block the session sender sends: asked and moved are
//                                    the block's data bytes (moved 0 when the send failed);
//   ZEB_EVENT_RECEIVE                every block the session receiver receives: asked is the
//                                    data size its header states, moved the data bytes that
//                                    came of it, ok whether all came (its pairs are checked
//                                    after, a bad pair is a failure of its own); and a receive
//                                    that failed, other than the sender's hang-up, with asked
//                                    and moved 0. A session's blocks have no offset (-1).
// Failures: every text the engine posts as a failure, in the order posted, with what the
// engine knows of it.
#define ZEB_EVENT_READ 1
#define ZEB_EVENT_WRITE 2
#define ZEB_EVENT_SEND 3
#define ZEB_EVENT_RECEIVE 4
#define ZEB_EVENT_FAILURE 5
// The kinds of a failure: the file I/O stress's reports, and any other failure text.
#define ZEB_FAILURE_BAD_PAIR 0
#define ZEB_FAILURE_READ 1
#define ZEB_FAILURE_WRITE 2
#define ZEB_FAILURE_VERIFY 3
#define ZEB_FAILURE_OTHER (-1)
typedef struct ZebEvent {
    int kind;                       // ZEB_EVENT_*
    int ok;                         // a transfer that moved every byte asked (or the one short
                                    // read that ends a sequential read at the end of the file)
    int error;                      // the errno of a failed transfer, else 0
    unsigned asked;                 // bytes asked of the transfer
    unsigned moved;                 // bytes it moved
    long long offset;               // where: the transfer's file offset; a failure's offset as
                                    // reported, or -1 where it names none
    unsigned long long start_ns;    // CLOCK_MONOTONIC, when the transfer began
    unsigned long long duration_ns; // how long it took
    int failure;                    // failures: ZEB_FAILURE_*
    int expected;                   // a bad pair: the byte expected and the byte found; else -1
    int actual;
    // A failure: the text as posted. A transfer that failed: its cause in words. Else NULL.
    // Valid only during the call.
    const char* text;
} ZebEvent;
typedef void (*ZebEventObserver)(void* context, const ZebEvent* event);
// The clock of the events' start_ns and duration_ns, named for results files: always the
// scale of CLOCK_MONOTONIC; "CLOCK_MONOTONIC" where every reading is a call of that clock,
// "CLOCK_MONOTONIC from the TSC" where the kernel's clocksource is the CPU's time stamp
// counter and the counter runs at a constant rate that never stops: the counter is read, scaled
// to CLOCK_MONOTONIC and anchored to it again at least every 10 ms (within 20 microseconds of
// it). The text is the engine's; it never changes while the library is loaded.
ZEB_EXPORT const char* EventClockName(void);
// Sets the observer of the passes and failures that follow (NULL: none, the default); called
// on the engine's thread, during the engine call that made the event.
ZEB_EXPORT void SetEventObserver(ZebEventObserver observer, void* context);

// NetBIOS session stress: this station as sender of `blocks` blocks of `size` bytes (the low
// 16 bits count; at most 64000, lowered to even). Returns ZEB_SESSION_RAN, ZEB_NO_PARTNER or
// ZEB_NAME_NOT_ADDED.
ZEB_EXPORT unsigned short SSendMain(int blocks, unsigned size);
// NetBIOS session stress: this station as receiver, waiting up to 20 seconds for the sender
// and then receiving until it hangs up. Returns ZEB_NAME_NOT_ADDED when the name could not be
// added, else the return code of deleting it (0 when deleted).
ZEB_EXPORT int SRecvMain(void);

#ifdef __cplusplus
}
#endif

#endif
