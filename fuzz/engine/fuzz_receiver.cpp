// The session receiver fed arbitrary blocks: the input is a run of records, each a 16-bit
// length (least significant byte first) and that many bytes of one received message (cut to
// the 64002 bytes a receive takes). Whatever the headers say, the receiver stays inside its
// buffers (the sanitizers watch), announces every block once and counts of each block the
// data that came, never more than its header states.
#include "clocks.h"
#include "netreq.h"
#include "receiver.h"
#include "require.h"
#include "status.h"
#include "zebdll.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const std::uint8_t* Input = nullptr;
std::size_t Left = 0;
std::uint32_t CountedTotal = 0;
unsigned Blocks = 0;

unsigned char Scripted(NCB* ncb) {
    unsigned char code = NRC_GOODRET;
    if ((ncb->ncb_command & 0x7f) == 0x7f) {
        code = ncb->ncb_lana_num == 0 ? NRC_ILLCMD : NRC_BRIDGE;
    } else if (ncb->ncb_command == NCBRECV) {
        if (Left < 2) {
            code = NRC_SCLOSED;
        } else {
            std::size_t length = Input[0] | static_cast<std::size_t>(Input[1]) << 8;
            Input += 2;
            Left -= 2;
            length = std::min({length, Left, static_cast<std::size_t>(BLOCK_LENGTH)});
            Require(ncb->ncb_buffer == BlockBuffer && ncb->ncb_length == BLOCK_LENGTH);
            std::memcpy(ncb->ncb_buffer, Input, length);
            ncb->ncb_length = static_cast<unsigned short>(length);
            Input += length;
            Left -= length;
            // The receiver reads the header as the message brought it; a header byte the
            // message did not bring reads as zero.
            const unsigned low = length > 0 ? BlockBuffer[0] : 0;
            const unsigned high = length > 1 ? BlockBuffer[1] : 0;
            CountedTotal += static_cast<std::uint32_t>(
                std::min<std::size_t>(low | high << 8, length > 2 ? length - 2 : 0));
            ++Blocks;
        }
    }
    ncb->ncb_retcode = code;
    ncb->ncb_cmd_cplt = code;
    return code;
}

std::int64_t Now() {
    return 0;
}

struct Board : ZebWindow {
    ZebWindow* ChildWindow(int) override { return this; }
    void SetText(const char* text) override {
        announced += std::strncmp(text, "Received block ", 15) == 0;
        last.push_back(text);
        if (last.size() > 3) {
            last.erase(last.begin());
        }
    }
    void EnableInput(bool) override {}
    void DispatchPendingEvents() override {}
    void ShowMessageBox(const char*, const char*) override {}
    unsigned announced = 0;
    std::vector<std::string> last;
};

} // namespace

// The request layer's default entry point; every request here goes to Scripted instead.
extern "C" unsigned char Netbios(NCB* ncb) {
    return Scripted(ncb);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static bool ready = [] {
        setenv("WINDIR", "/nonexistent-zeb-fuzz", 1); // no compatibility log
        NetbiosCall = &Scripted;
        SecondsClock = &Now;
        MillisecondClock = &Now;
        return true;
    }();
    (void)ready;
    Board board;
    GetHWND(&board);
    PassDynaResult(1);
    Input = data;
    Left = size;
    CountedTotal = 0;
    Blocks = 0;
    RunReceiveSession();
    GetHWND(nullptr);
    Require(board.announced == Blocks);
    Require(board.last.size() == 3);
    Require(board.last[1] == std::to_string(CountedTotal) + " Bytes received.");
    Require(BlockBuffer[BLOCK_LENGTH] == 0);
    return 0;
}
