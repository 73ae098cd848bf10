// The message board's own texts, as the control dialog shows them and zebcli prints them: the
// hints for each choice, and the lines around a session stress run.
#ifndef ZEB_BOARDTEXTS_H
#define ZEB_BOARDTEXTS_H

#include <string>

namespace boardtext {

// The hints shown when the operator picks a test, a role or an output switch.
inline constexpr char kNetbiosText[] = "Netbios stress test: select Sender or Receiver";
inline constexpr char kFileIoText[] =
    "File I/O Stress: Test Name -> Server File Name, Mode -> I/O mode";
// kept as shipped: "Transfered"
inline constexpr char kSenderText[] =
    "Buffer Size: 2 to 64K.  Number of Transfered Blocks: 1 to 32K";
inline constexpr char kReceiverText[] = "Buffer and Blocks fields are now disabled.";
inline constexpr char kSaveOnText[] = "REPORT.TXT will be created";
inline constexpr char kSaveOffText[] = "REPORT.TXT will not be created";
inline constexpr char kShowOnText[] = "Dynamically display data.  Net utilization will be lower.";
inline constexpr char kShowOffText[] =
    "It doesn't dynamically display data.  Net utilization will be higher.";

// Before and after a session stress run.
inline constexpr char kReceiveStartText[] = "Start receive process...";
inline constexpr char kReceiveDoneText[] = "Receive complete!";
inline constexpr char kSendStartText[] = "Start transmission...";
inline constexpr char kSendDoneSuffix[] = "Read REPORT.TXT if checked Save Results";
inline constexpr char kSendTimeoutText[] = "Sender Timeout: no receiver, command cancelled !";

// The board text after a send: the engine's summary directly followed by the pointer to the
// report, cut to what the board stores (119 bytes and the terminator), or the time-out text
// when no session ran. Only the low 16 bits of engineResult count. summary may be null.
std::string SenderBoardText(int engineResult, const char* summary);

} // namespace boardtext

#endif
