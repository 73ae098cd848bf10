// The sending side of the NetBIOS session stress: registers ZEBSTRESSSENDER, calls the
// receiver until it answers or 20 seconds pass, sends equal patterned blocks over one session
// and leaves the rate as the run's summary. This module also owns the block format:
//   offset 0, 2 bytes  the working size, least significant byte first
//   offset 2           working size bytes of byte pairs (32 + k mod 200, then its complement)
//   then               one 0x00 terminator (behind the 64002 bytes for a full 64000)
//   the rest           not significant
#ifndef ZEB_ENGINE_SENDER_H
#define ZEB_ENGINE_SENDER_H

#include <cstdint>

inline constexpr char SENDER_NAME[] = "ZEBSTRESSSENDER";
inline constexpr char RECEIVER_NAME[] = "ZEBSTRESSRECVER";
// The most pattern bytes a block carries.
constexpr unsigned MAX_BLOCK_DATA = 64000;
// Seconds the sender keeps calling and the receiver keeps listening: a wait ends once the
// clock has moved more than this.
constexpr std::int64_t PARTNER_WAIT_SECONDS = 20;

// The size the sender works with: the low 16 bits of the requested size, at most 64000,
// lowered to even.
unsigned WorkingSize(unsigned requested);
// Calls the receiver until a session is open (returns ZEB_SESSION_RAN, SessionLsn set) or the wait
// times out (returns ZEB_NO_PARTNER).
int FindReceiver();
// Sends count blocks of the requested size over the open session and posts the summary.
void RunSendSession(std::int32_t count, unsigned requested);

#endif
