// The NetBIOS stack: the name table of every LANA, its sessions, outstanding listens and the
// one provider thread that serves the name-service and session-service sockets.
#ifndef ZEB_NETBIOS_NBSTACK_H
#define ZEB_NETBIOS_NBSTACK_H

#include "netbios.h"

namespace nb {

// Runs one NCB command. Brings the stack up on first use: reads the settings, binds the
// sockets and starts the provider thread (stopped and joined at exit).
unsigned char RunCommand(NCB* ncb);

} // namespace nb

#endif
