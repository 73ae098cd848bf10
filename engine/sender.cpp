// The session sender.
#include "sender.h"

#include <cstring>

#include "clocks.h"
#include "compatlog.h"
#include "eventclock.h"
#include "fileio.h"
#include "netreq.h"
#include "observer.h"
#include "status.h"
#include "zebdll.h"
#include "zebtexts.h"

static_assert(MAX_BLOCK_DATA + 2 == BLOCK_LENGTH, "a block is its header and 64000 bytes");
// A full pattern and its terminator land in BlockBuffer from offset 2.
static_assert(2 + MAX_BLOCK_DATA + 1 <= BLOCK_BUFFER_SIZE, "room for the terminator");

unsigned WorkingSize(unsigned requested) {
    unsigned size = requested & 0xFFFF;
    if (size > MAX_BLOCK_DATA) {
        size = MAX_BLOCK_DATA;
    }
    return size & ~1u;
}

int FindReceiver() {
    PostStatus("Calling Receiver..", LEVEL_PROGRESS);
    const std::int64_t start = SecondsClock();
    bool timedOut = false;
    do {
        NetCall(RECEIVER_NAME, SENDER_NAME, &SessionNcb);
        PostStatus("calling receiver", LEVEL_PROGRESS);
        if (SecondsClock() - start > PARTNER_WAIT_SECONDS) {
            timedOut = true;
        }
    } while (SessionNcb.ncb_retcode != NRC_GOODRET && !timedOut);

    if (SessionNcb.ncb_retcode == NRC_GOODRET) {
        PostStatus(" Receiver identified", LEVEL_PROGRESS);
        SessionLsn = SessionNcb.ncb_lsn;
        return ZEB_SESSION_RAN;
    }
    NetCancel(&SessionNcb); // the call has completed: nothing goes out
    FormatMessage("Time out: cannot find receiver.. command cancelled");
    PostStatus(MessageBuffer, LEVEL_FAILURE);
    CompatLogPrintf("%s", MessageBuffer);
    return ZEB_NO_PARTNER;
}

void RunSendSession(std::int32_t count, unsigned requested) {
    requested &= 0xFFFF;
    // kept as shipped: "Transfering"
    FormatMessage("SEND SESSION BEGIN Transfering [%lu] blocks of [%d] bytes ",
                  static_cast<unsigned long>(static_cast<std::uint32_t>(count)),
                  static_cast<int>(requested));
    PostStatus(MessageBuffer, LEVEL_PROGRESS);
    CompatLogPrintf("%s", MessageBuffer);

    const unsigned size = WorkingSize(requested);
    FillPairPattern(size);

    const std::int64_t start = MillisecondClock();
    bool sending = true;
    std::uint32_t delivered = 0;
    for (std::int32_t index = 0; sending && index < count; ++index) {
        // The pattern with its terminator; for a full 64000 bytes the terminator falls just
        // behind the 64002 bytes that travel.
        std::memcpy(BlockBuffer + 2, PatternBuffer, size + 1);
        BlockBuffer[0] = static_cast<unsigned char>(size & 0xFF);
        BlockBuffer[1] = static_cast<unsigned char>(size >> 8);
        const bool observed = Observed();
        const std::uint64_t began = observed ? EventNanoseconds() : 0;
        const bool sent = NetSend(&DataNcb) == NRC_GOODRET;
        const std::uint64_t ended = observed ? EventNanoseconds() : 0;
        if (!sent) {
            FormatMessage("Send Error %02X", DataNcb.ncb_retcode);
        }
        if (observed) {
            ObserveTransfer(ZEB_EVENT_SEND, size, sent ? size : 0, sent, -1, began, ended, 0,
                            MessageBuffer);
        }
        if (!sent) {
            PostStatus(MessageBuffer, LEVEL_FAILURE);
            sending = false;
        } else {
            ++delivered;
        }
    }
    const std::int64_t end = MillisecondClock();

    // Bytes per millisecond, shown as KB/s. Only blocks that went out count: a send error
    // ends the run early, and blocks never sent are no part of the transfer.
    const double rate =
        static_cast<double>(size) * delivered * 1000.0 / 1000.0 / RateMilliseconds(start, end);
    const std::uint32_t total = size * delivered;
    // kept as shipped: "transfered"
    FormatMessage("%5.1f KB/s %lu bytes transfered%s", rate, static_cast<unsigned long>(total),
                  sending ? "" : zebtext::kSendFailedSuffix);
    PostStatus(MessageBuffer, LEVEL_SUMMARY);
    CompatLogPrintf("%s", MessageBuffer);
}

extern "C" unsigned short SSendMain(int blocks, unsigned size) {
    FormatMessage("Sending %lu Blocks of %d Byte",
                  static_cast<unsigned long>(static_cast<std::uint32_t>(blocks)),
                  static_cast<int>(size & 0xFFFF));
    PostStatus(MessageBuffer, LEVEL_PROGRESS);
    if (NetAddUniqueName(SENDER_NAME) == 0) {
        return ZEB_NAME_NOT_ADDED;
    }
    if (FindReceiver() == ZEB_SESSION_RAN) {
        RunSendSession(blocks, size);
        NetHangup(&SessionNcb, SessionLsn);
        NetDeleteName(SENDER_NAME);
        return ZEB_SESSION_RAN;
    }
    NetDeleteName(SENDER_NAME);
    return ZEB_NO_PARTNER;
}
