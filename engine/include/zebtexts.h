// Texts the engine posts that callers read outcomes from. The engine builds these messages
// from the constants below and zebcli recognises them by the same constants, so that a
// changed text changes both sides at once. Every text is used exactly as it stands: operators
// and their scripts know them, misspellings included.
#ifndef ZEBTEXTS_H
#define ZEBTEXTS_H

namespace zebtext {

// The end of a file I/O pass.
inline constexpr char kFileIoPassed[] = "File I/O Passed";
inline constexpr char kFileIoFailed[] = "File I/O Failed";

// The heading of a file I/O pass begins so; it comes once the test file is checked and open,
// before the pass's first transfer.
inline constexpr char kPassHeadingPrefix[] = "Test File: ";

// A file I/O pass creates its test file; the engine then writes "Checking test file..." to
// standard output itself, past the board.
inline constexpr char kCreatingTestFile[] = "Creating TESTFILE..";

// The receiver's wait for a sender ran out.
inline constexpr char kReceiverTimeout[] = "Receiver Timeout: please start again.";
// The receiver's listen failed; the provider's return code follows.
inline constexpr char kSessionNotCreated[] = "Error: Session not Created..";
// The sender hung up: the receive session's normal end.
inline constexpr char kSessionClosed[] = "Session closed by Sender";
// A receive failed; a blank and the provider's return code follow.
inline constexpr char kReceiveError[] = "Netbios Error Return";
// The beginning of the report of a damaged pair in a received block.
inline constexpr char kPairErrorPrefix[] = "\nExpected ";
// A received block failed its check: its data offset (hexadecimal) and a line feed follow.
inline constexpr char kBlockVerifyFailed[] = "\nRead verify failed at TESTFILE offset ";
// Adding a name failed: the provider's return code comes before, "..." after.
inline constexpr char kAddNameError[] = "error with add name";
// The end of the sender's summary when a send failed.
inline constexpr char kSendFailedSuffix[] = "  Data Corrupted!";

} // namespace zebtext

#endif
