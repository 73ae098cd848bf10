// The session receiver.
#include "receiver.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "clocks.h"
#include "compatlog.h"
#include "eventclock.h"
#include "netreq.h"
#include "observer.h"
#include "pairscan.h"
#include "sender.h"
#include "status.h"
#include "zebdll.h"
#include "zebtexts.h"

// Every 16-bit size a header can state, odd ones with the byte behind them, lies inside
// PatternBuffer: a damaged header cannot make the check read past it.
static_assert(PATTERN_BUFFER_SIZE >= 0xFFFF + 1, "the check buffer holds any stated size");
// The copy of a block's data takes at most the bytes behind the header, the zero included.
static_assert(BLOCK_BUFFER_SIZE - 2 <= PATTERN_BUFFER_SIZE, "a block's data fits the check");

namespace {

// Copies the block's data, from offset 2 up to and including its first zero byte, into
// PatternBuffer. BlockBuffer always holds a zero just behind its 64002 bytes, so a full block
// brings all its 64000 data bytes and that zero; the search never leaves BlockBuffer.
void CopyBlockData() {
    const unsigned char* data = BlockBuffer + 2;
    const std::size_t room = BLOCK_BUFFER_SIZE - 2;
    const void* zero = std::memchr(data, 0, room);
    const std::size_t length =
        zero != nullptr
            ? static_cast<std::size_t>(static_cast<const unsigned char*>(zero) - data) + 1
            : room;
    std::memcpy(PatternBuffer, data, length);
}

} // namespace

unsigned VerifyPairs(unsigned length) {
    const std::size_t i = FindBadPair(PatternBuffer, length);
    if (i == NO_BAD_PAIR) {
        return 0;
    }
    const unsigned char first = PatternBuffer[i];
    const unsigned char second = PatternBuffer[i + 1];
    FormatMessage("%s%2Xh,%2Xh but read %2Xh,%2Xh", zebtext::kPairErrorPrefix, first,
                  static_cast<unsigned char>(~first), first, second);
    PostStatus(MessageBuffer, LEVEL_DATA_FAILURE);
    return static_cast<unsigned>(i) + 1;
}

int ListenForSender() {
    PostStatus("Listening for Sender..", LEVEL_PROGRESS);
    NetListen(SENDER_NAME, RECEIVER_NAME, &SessionNcb);
    const std::int64_t start = SecondsClock();
    bool timedOut = false;
    while (CommandComplete(&SessionNcb) == NRC_PENDING && !timedOut) {
        PumpMessages();
        if (SecondsClock() - start > PARTNER_WAIT_SECONDS) {
            timedOut = true;
        }
    }
    // A listen that completed in the very poll that ran out of time is taken, not dropped:
    // the sender would otherwise be left with an open session that nobody reads.
    const unsigned char code = CommandComplete(&SessionNcb);
    if (code == NRC_PENDING) {
        return ZEB_NO_PARTNER;
    }
    if (code == NRC_GOODRET) {
        PostStatus("Sender Identified ", LEVEL_PROGRESS);
        CompatLogPrintf("%s", "Sender Identified ");
        SessionLsn = SessionNcb.ncb_lsn;
        return ZEB_SESSION_RAN;
    }
    FormatMessage("%s%d", zebtext::kSessionNotCreated, SessionNcb.ncb_retcode);
    PostStatus(MessageBuffer, LEVEL_FAILURE);
    return 0;
}

void RunReceiveSession() {
    bool receiving = true;
    std::uint16_t block = 0;
    std::uint32_t total = 0;
    PostStatus("RECEIVE SESSION BEGIN ", LEVEL_PROGRESS);
    const std::int64_t start = MillisecondClock();
    while (receiving) {
        const bool observed = Observed();
        const std::uint64_t began = observed ? EventNanoseconds() : 0;
        const bool received = NetReceive(&DataNcb) == NRC_GOODRET;
        const std::uint64_t ended = observed ? EventNanoseconds() : 0;
        if (!received) {
            // Only the sender's hang-up ends a session whole. Any other end (the sender gone
            // in the middle of a block, a message longer than a block, the receive time-out)
            // leaves blocks that never came: the session failed.
            const bool whole = DataNcb.ncb_retcode == NRC_SCLOSED;
            if (whole) {
                FormatMessage("%s", zebtext::kSessionClosed);
            } else {
                FormatMessage("%s %2X", zebtext::kReceiveError, DataNcb.ncb_retcode);
            }
            if (observed && !whole) {
                ObserveTransfer(ZEB_EVENT_RECEIVE, 0, 0, false, -1, began, ended, 0, MessageBuffer);
            }
            PostStatus(MessageBuffer, whole ? LEVEL_PROGRESS : LEVEL_FAILURE);
            NetHangup(&SessionNcb, SessionLsn); // after the sender's hang-up, already gone
            receiving = false;
            continue;
        }
        ++block;
        // What a short message never brought reads as zeros, not as the last block's bytes:
        // they fail the check. Only the bytes the check reads are cleared (the header, the
        // stated size and the byte behind it), so a block that came whole costs nothing.
        const std::size_t came = std::min<std::size_t>(DataNcb.ncb_length, BLOCK_LENGTH);
        if (came < 2) {
            std::memset(BlockBuffer + came, 0, 2 - came);
        }
        const unsigned size = BlockBuffer[0] | static_cast<unsigned>(BlockBuffer[1]) << 8;
        if (const std::size_t checked = std::min<std::size_t>(2 + size + 1, BLOCK_LENGTH);
            came < checked) {
            std::memset(BlockBuffer + came, 0, checked - came);
        }
        if (size == MAX_BLOCK_DATA) {
            FormatMessage("Received block %3u Size = 64K Bytes", static_cast<unsigned>(block));
        } else {
            FormatMessage("Received block %3u Size = %d Bytes", static_cast<unsigned>(block),
                          static_cast<int>(size));
        }
        PostStatus(MessageBuffer, LEVEL_PROGRESS);
        CompatLogLine(MessageBuffer);
        CopyBlockData();
        // A message without its two header bytes, or shorter than the data its header states,
        // is no good block even where the pairs that came pass: the check fails at the first
        // pair that did not come whole.
        const std::size_t arrived = came > 2 ? came - 2 : 0;
        // The block as a transfer: whole when its header and the data it states came. Its
        // pairs are checked after, and a bad pair is a failure of its own.
        const auto counted = static_cast<std::uint32_t>(std::min<std::size_t>(size, arrived));
        const bool whole = came >= 2 && arrived >= size;
        if (observed) {
            ObserveTransfer(ZEB_EVENT_RECEIVE, size, counted, whole, -1, began, ended, 0,
                            "the message is shorter than its header states");
        }
        const unsigned bad = VerifyPairs(size);
        if (bad != 0 || !whole) {
            FormatMessage("%s%X\n", zebtext::kBlockVerifyFailed,
                          bad != 0 ? bad - 1 : static_cast<unsigned>(arrived & ~std::size_t{1}));
            PostStatus(MessageBuffer, LEVEL_FAILURE);
        }
        // Counted whether or not the check passed, as far as the data came.
        total += counted;
    }
    const std::int64_t end = MillisecondClock();
    PostStatus("RECEIVE SESSION END ", LEVEL_PROGRESS);

    FormatMessage("%lu Bytes received.", static_cast<unsigned long>(total));
    PostStatus(MessageBuffer, LEVEL_PROGRESS);
    CompatLogLine(MessageBuffer);

    // Bytes per millisecond, shown as KB/s.
    const double rate =
        static_cast<double>(total) * 1000.0 / (RateMilliseconds(start, end) * 1000.0);
    FormatMessage("%5.1f KB/s", rate);
    PostStatus(MessageBuffer, LEVEL_PROGRESS);
    CompatLogLine(MessageBuffer);
}

extern "C" int SRecvMain(void) {
    PostStatus("NETBIOS RECEIVE ", LEVEL_PROGRESS);
    if (NetAddUniqueName(RECEIVER_NAME) == 0) {
        return ZEB_NAME_NOT_ADDED;
    }
    switch (ListenForSender()) {
    case ZEB_NO_PARTNER:
        PostStatus(zebtext::kReceiverTimeout, LEVEL_PROGRESS);
        break;
    case ZEB_SESSION_RAN:
        RunReceiveSession();
        break;
    default:
        break; // the failure has been posted
    }
    // After a timed-out wait the listen is still outstanding: deleting the name ends it.
    return NetDeleteName(RECEIVER_NAME);
}
