// The receiving side of the NetBIOS session stress: registers ZEBSTRESSRECVER, listens for
// ZEBSTRESSSENDER for up to 20 seconds, then receives until the sender hangs up, numbering,
// announcing, checking and counting every block, and posts the total and the rate.
#ifndef ZEB_ENGINE_RECEIVER_H
#define ZEB_ENGINE_RECEIVER_H

// Posts the listen and waits for it. Returns ZEB_SESSION_RAN (session open, SessionLsn set),
// ZEB_NO_PARTNER (no sender within the wait; the listen is still outstanding) or 0 (the listen
// ended with an error).
int ListenForSender();
// Receives until the session ends, then posts the totals.
void RunReceiveSession();
// Checks the first length bytes of PatternBuffer pair by pair (an odd length takes the byte
// at offset length into the last pair). Returns 0 when all pairs are good, else posts the
// first bad pair and returns the offset of its first byte plus one.
unsigned VerifyPairs(unsigned length);

#endif
