// The NetBIOS request layer.
#include "netreq.h"

#include "status.h"
#include "zebtexts.h"

#include <atomic>
#include <cstring>

NCB SessionNcb;
NCB DataNcb;
unsigned char SessionLsn;
unsigned char BlockBuffer[BLOCK_BUFFER_SIZE];
NetbiosEntry NetbiosCall = &Netbios;

namespace {

constexpr unsigned char PROBE_COMMAND = 0x7f;
constexpr int LAST_LANA = 32;
constexpr unsigned char SESSION_TIMEOUT = 60; // half-seconds: 30 s per send or receive

// The field has just been cleared: copy the name's bytes and leave the rest zero. At most
// 15 are taken, so the last byte stays 0x00 and a longer name cannot run into the next field.
void CopyName(unsigned char* field, const char* name) {
    std::size_t length = strnlen(name, NCBNAMSZ - 1);
    std::memcpy(field, name, length);
}

} // namespace

unsigned char CommandComplete(NCB* ncb) {
    return std::atomic_ref<unsigned char>(ncb->ncb_cmd_cplt).load(std::memory_order_acquire);
}

int FindLana() {
    NCB probe;
    std::memset(&probe, 0, sizeof probe);
    probe.ncb_command = NCBRESET;
    NetbiosCall(&probe); // adapter 0, default resources; the outcome does not matter
    std::memset(&probe, 0, sizeof probe);
    probe.ncb_command = PROBE_COMMAND;
    for (int lana = 0; lana <= LAST_LANA; ++lana) {
        probe.ncb_lana_num = static_cast<unsigned char>(lana);
        NetbiosCall(&probe);
        if (probe.ncb_retcode == NRC_ILLCMD) {
            return lana;
        }
    }
    return -1;
}

void PrepareNcb(NCB* ncb) {
    std::memset(ncb, 0, sizeof *ncb);
    ncb->ncb_lana_num = static_cast<unsigned char>(FindLana());
}

unsigned char SubmitNcb(NCB* ncb) {
    NetbiosCall(ncb);
    if (ncb->ncb_retcode == NRC_NOCALL) {
        // kept as shipped: "reciver"
        PostStatus("The system did not find the reciver", LEVEL_PROGRESS);
    }
    return ncb->ncb_retcode;
}

unsigned char NetCall(const char* callname, const char* name, NCB* ncb) {
    PrepareNcb(ncb);
    ncb->ncb_command = NCBCALL;
    CopyName(ncb->ncb_callname, callname);
    CopyName(ncb->ncb_name, name);
    ncb->ncb_rto = SESSION_TIMEOUT;
    ncb->ncb_sto = SESSION_TIMEOUT;
    return SubmitNcb(ncb);
}

unsigned char NetListen(const char* callname, const char* name, NCB* ncb) {
    PrepareNcb(ncb);
    ncb->ncb_command = NCBLISTEN | ASYNCH;
    CopyName(ncb->ncb_callname, callname);
    CopyName(ncb->ncb_name, name);
    ncb->ncb_rto = SESSION_TIMEOUT;
    ncb->ncb_sto = SESSION_TIMEOUT;
    // Once accepted the listen is outstanding and the provider writes into the NCB from its
    // own thread: the NCB is read through CommandComplete only, so the result here is the
    // entry point's own.
    return NetbiosCall(ncb);
}

unsigned char NetHangup(NCB* ncb, unsigned char lsn) {
    PrepareNcb(ncb);
    ncb->ncb_command = NCBHANGUP;
    ncb->ncb_lsn = lsn;
    return SubmitNcb(ncb);
}

unsigned char NetSend(NCB* ncb) {
    PrepareNcb(ncb);
    ncb->ncb_command = NCBSEND;
    ncb->ncb_lsn = SessionLsn;
    ncb->ncb_buffer = BlockBuffer;
    ncb->ncb_length = static_cast<unsigned short>(BLOCK_LENGTH);
    return SubmitNcb(ncb);
}

unsigned char NetReceive(NCB* ncb) {
    PrepareNcb(ncb);
    ncb->ncb_command = NCBRECV;
    ncb->ncb_lsn = SessionLsn;
    ncb->ncb_buffer = BlockBuffer;
    ncb->ncb_length = static_cast<unsigned short>(BLOCK_LENGTH);
    return SubmitNcb(ncb);
}

void NetCancel(NCB* target) {
    if (CommandComplete(target) != NRC_PENDING) {
        return; // completed already: nothing to cancel, nothing sent
    }
    NCB cancel;
    PrepareNcb(&cancel);
    cancel.ncb_command = NCBCANCEL;
    cancel.ncb_buffer = reinterpret_cast<unsigned char*>(target);
    SubmitNcb(&cancel);
}

unsigned char NetDeleteName(const char* name) {
    NCB ncb;
    PrepareNcb(&ncb);
    ncb.ncb_command = NCBDELNAME;
    CopyName(ncb.ncb_name, name);
    return SubmitNcb(&ncb);
}

unsigned char NetAddName(const char* name, int unique) {
    NetDeleteName(name); // a name left behind by an earlier run must not block the add
    NCB ncb;
    PrepareNcb(&ncb);
    ncb.ncb_command = unique == 1 ? NCBADDNAME : NCBADDGRNAME;
    CopyName(ncb.ncb_name, name);
    if (SubmitNcb(&ncb) == NRC_GOODRET) {
        return ncb.ncb_num;
    }
    FormatMessage("\n\n0x%02X %s...", ncb.ncb_retcode, zebtext::kAddNameError);
    PostStatus(MessageBuffer, LEVEL_FAILURE);
    return 0;
}

int NetAddUniqueName(const char* name) {
    return NetAddName(name, 1) != 0 ? 1 : 0;
}
