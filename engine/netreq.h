// The NetBIOS request layer: every request of the session stress fills one NCB, finds the
// adapter afresh (reset of adapter 0, then a probe of adapters 0 to 32), hands the NCB to
// Netbios and leaves the outcome in it. The engine's NetBIOS state lives here.
#ifndef ZEB_ENGINE_NETREQ_H
#define ZEB_ENGINE_NETREQ_H

#include "netbios.h"

#include <cstddef>

// Every send and receive moves this many bytes: a 2-byte block header and 64000 of data.
constexpr std::size_t BLOCK_LENGTH = 64002;
// One byte more than a block, and that byte always zero: the terminator behind a full
// 64000-byte pattern.
constexpr std::size_t BLOCK_BUFFER_SIZE = BLOCK_LENGTH + 2;

// The session's NCB: call or listen, hang-up, and the target of a cancel. Stays at one
// address while a listen on it is outstanding.
extern NCB SessionNcb;
// The NCB of every send and receive.
extern NCB DataNcb;
// The session number of the open session.
extern unsigned char SessionLsn;
extern unsigned char BlockBuffer[BLOCK_BUFFER_SIZE];

// The one way the engine reaches the platform's Netbios; tests put a scripted provider here.
using NetbiosEntry = unsigned char (*)(NCB*);
extern NetbiosEntry NetbiosCall;

// Resets adapter 0, then probes adapters 0 to 32 with the non-command 0x7F: the first that
// answers NRC_ILLCMD is installed. Returns its number, or -1.
int FindLana();
// Clears the NCB and sets its adapter to the low byte of FindLana.
void PrepareNcb(NCB* ncb);
// Hands the NCB to Netbios; says so when the called station was not found. Returns
// ncb_retcode.
unsigned char SubmitNcb(NCB* ncb);

// Names are zero-terminated strings of at most 15 characters; they go into cleared 16-byte
// fields, never padded with spaces.
unsigned char NetCall(const char* callname, const char* name, NCB* ncb);
// Asynchronous: on return the listen is outstanding; watch ncb_cmd_cplt.
unsigned char NetListen(const char* callname, const char* name, NCB* ncb);
unsigned char NetHangup(NCB* ncb, unsigned char lsn);
unsigned char NetSend(NCB* ncb);
unsigned char NetReceive(NCB* ncb);
// Cancels the target's command, only while it is outstanding; otherwise does nothing.
void NetCancel(NCB* target);
unsigned char NetDeleteName(const char* name);
// Deletes any earlier registration of the name, then adds it. Returns the name number, or
// 0 after posting the failure.
unsigned char NetAddName(const char* name, int unique);
// 1 when the name was added with a nonzero name number, else 0.
int NetAddUniqueName(const char* name);

// ncb_cmd_cplt as another thread completes it (acquire ordering).
unsigned char CommandComplete(NCB* ncb);

#endif
