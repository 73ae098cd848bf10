// One station of the NetBIOS session stress as a console program, for the two-process tests
// and the benchmark. It links the real engine and the real provider, runs one side of the
// stress, and prints every text the engine posts to its message board, one line each, with
// line ends shown as \n:
//   post <text>
// then
//   result <what the entry point returned>
//   summary <GetMsgBuffer>
// and exits with GetRetCode (3 clean, 2 after a failure).
//
//   zebstation [options] recv
//   zebstation [options] send COUNT SIZE
//   zebstation [options] raw BLOCK...     a sender at the provider level, for damaged blocks
//   zebstation [options] claim NAME       adds NAME; prints "claim <rc>"
// options: --quiet (Show Data off: nothing posted is printed), --nosave (Save Results off),
//          --hold (after the run, wait for standard input to close before exiting),
//          --observe (an event observer: prints, after the summary, for the blocks sent and
//          received "blocks <count> <ok> <bytes moved> <in order>", in order 1 when each
//          block's time began after the one before it ended).
// A raw BLOCK is SIZE, the genuine block of that working size, followed by any number of
// @OFF=HH,HH,... that overwrite data bytes from data offset OFF (hexadecimal, as are HH), and
// optionally by /LENGTH: the message is LENGTH bytes (0 to 65535, decimal) instead of 64002,
// the block cut there or followed by zeros.
// The provider takes its settings (NETBIOS_LANAS, ports, ...) from the environment.
#include "netbios.h"
#include "zebdll.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

void PrintEscaped(const char* prefix, const char* text) {
    std::string line = prefix;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p == '\n') {
            line += "\\n";
        } else if (*p == '\r') {
            line += "\\r";
        } else {
            line += *p;
        }
    }
    line += '\n';
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
}

// The board prints what the engine shows on it; the dialog has nothing to dispatch.
class StationBoard : public ZebWindow {
  public:
    ZebWindow* ChildWindow(int) override { return nullptr; }
    void SetText(const char* text) override { PrintEscaped("post ", text); }
    void EnableInput(bool) override {}
    void DispatchPendingEvents() override {}
    void ShowMessageBox(const char* caption, const char* text) override {
        std::fprintf(stderr, "%s: %s\n", caption, text);
    }
};

class StationDialog : public StationBoard {
  public:
    ZebWindow* ChildWindow(int id) override { return id == ZEB_BOARD_ID ? &board_ : nullptr; }
    void SetText(const char*) override {}

  private:
    StationBoard board_;
};

void SetName(unsigned char* field, const char* name) {
    std::memset(field, 0, NCBNAMSZ);
    std::memcpy(field, name, strnlen(name, NCBNAMSZ - 1));
}

NCB Fresh(unsigned char command) {
    NCB ncb;
    std::memset(&ncb, 0, sizeof ncb);
    ncb.ncb_command = command;
    return ncb;
}

// Builds block text like "1000@10=28,00" into a 64002-byte block; false when it does not parse
// or reaches past the block.
bool BuildBlock(const char* layout, std::vector<unsigned char>& block) {
    block.assign(64003, 0);
    char* end = nullptr;
    unsigned long size = std::strtoul(layout, &end, 10);
    if (end == layout || size > 64000) {
        return false;
    }
    block[0] = static_cast<unsigned char>(size & 0xFF);
    block[1] = static_cast<unsigned char>(size >> 8);
    for (unsigned long k = 0; k < size / 2; ++k) {
        block[2 + 2 * k] = static_cast<unsigned char>(32 + k % 200);
        block[3 + 2 * k] = static_cast<unsigned char>(255 - (32 + k % 200));
    }
    while (*end == '@') {
        const char* at = end + 1;
        unsigned long offset = std::strtoul(at, &end, 16);
        if (end == at || *end != '=') {
            return false;
        }
        do {
            at = end + 1;
            unsigned long value = std::strtoul(at, &end, 16);
            if (end == at || value > 0xFF || 2 + offset >= 64002) {
                return false;
            }
            block[2 + offset++] = static_cast<unsigned char>(value);
        } while (*end == ',');
    }
    unsigned long length = 64002;
    if (*end == '/') {
        const char* at = end + 1;
        length = std::strtoul(at, &end, 10);
        if (end == at || length > 0xFFFF) {
            return false;
        }
    }
    block.resize(length);
    return *end == '\0';
}

// A sender that speaks to the receiver through the provider only, so that it can send blocks
// the engine never would.
int RawSend(int count, char** layouts) {
    std::vector<std::vector<unsigned char>> blocks(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        if (!BuildBlock(layouts[i], blocks[static_cast<std::size_t>(i)])) {
            std::fprintf(stderr, "bad block: %s\n", layouts[i]);
            return 64;
        }
    }
    NCB add = Fresh(NCBADDNAME);
    SetName(add.ncb_name, "ZEBSTRESSSENDER");
    Netbios(&add);
    if (add.ncb_retcode != NRC_GOODRET) {
        std::printf("raw add 0x%02X\n", add.ncb_retcode);
        return 1;
    }
    NCB call;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    do {
        call = Fresh(NCBCALL);
        SetName(call.ncb_name, "ZEBSTRESSSENDER");
        SetName(call.ncb_callname, "ZEBSTRESSRECVER");
        call.ncb_rto = 60;
        call.ncb_sto = 60;
        Netbios(&call);
    } while (call.ncb_retcode != NRC_GOODRET && std::chrono::steady_clock::now() < until);
    if (call.ncb_retcode != NRC_GOODRET) {
        std::printf("raw call 0x%02X\n", call.ncb_retcode);
        return 1;
    }
    int sent = 0;
    for (auto& block : blocks) {
        NCB send = Fresh(NCBSEND);
        send.ncb_lsn = call.ncb_lsn;
        send.ncb_buffer = block.data();
        send.ncb_length = static_cast<unsigned short>(block.size());
        Netbios(&send);
        if (send.ncb_retcode != NRC_GOODRET) {
            break;
        }
        ++sent;
    }
    NCB hangup = Fresh(NCBHANGUP);
    hangup.ncb_lsn = call.ncb_lsn;
    Netbios(&hangup);
    NCB del = Fresh(NCBDELNAME);
    SetName(del.ncb_name, "ZEBSTRESSSENDER");
    Netbios(&del);
    std::printf("raw sent %d\n", sent);
    return sent == count ? 0 : 1;
}

int Claim(const char* name) {
    NCB add = Fresh(NCBADDNAME);
    SetName(add.ncb_name, name);
    Netbios(&add);
    std::printf("claim 0x%02X\n", add.ncb_retcode);
    return 0;
}

void Hold() {
    char buffer[64];
    while (read(0, buffer, sizeof buffer) > 0) {
    }
}

// What the observer saw of the session's blocks.
struct Blocks {
    unsigned long count = 0;
    unsigned long ok = 0;
    unsigned long long moved = 0;
    unsigned long long lastEnd = 0;
    bool inOrder = true;
};

void CountBlock(void* context, const ZebEvent* event) {
    if (event->kind != ZEB_EVENT_SEND && event->kind != ZEB_EVENT_RECEIVE) {
        return;
    }
    auto& blocks = *static_cast<Blocks*>(context);
    ++blocks.count;
    blocks.ok += event->ok != 0 ? 1 : 0;
    blocks.moved += event->moved;
    blocks.inOrder = blocks.inOrder && event->start_ns >= blocks.lastEnd && event->offset == -1;
    blocks.lastEnd = event->start_ns + event->duration_ns;
}

int Usage() {
    std::fprintf(
        stderr, "usage: zebstation [--quiet] [--nosave] [--hold] [--observe] recv | send COUNT SIZE"
                " | raw BLOCK... | claim NAME\n");
    return 64;
}

} // namespace

int main(int argc, char** argv) {
    bool quiet = false;
    bool save = true;
    bool hold = false;
    bool observe = false;
    int at = 1;
    for (; at < argc && std::strncmp(argv[at], "--", 2) == 0; ++at) {
        if (std::strcmp(argv[at], "--quiet") == 0) {
            quiet = true;
        } else if (std::strcmp(argv[at], "--nosave") == 0) {
            save = false;
        } else if (std::strcmp(argv[at], "--hold") == 0) {
            hold = true;
        } else if (std::strcmp(argv[at], "--observe") == 0) {
            observe = true;
        } else {
            return Usage();
        }
    }
    if (at >= argc) {
        return Usage();
    }
    const std::string mode = argv[at];
    int status = 0;
    if (mode == "raw" && argc - at >= 2) {
        status = RawSend(argc - at - 1, argv + at + 1);
    } else if (mode == "claim" && argc - at == 2) {
        status = Claim(argv[at + 1]);
    } else if (mode == "recv" || (mode == "send" && argc - at == 3)) {
        static StationDialog dialog;
        GetHWND(&dialog);
        PassDynaResult(quiet ? 0 : 1);
        PassSaveResult(save ? 1 : 0);
        static Blocks blocks;
        if (observe) {
            SetEventObserver(&CountBlock, &blocks);
        }
        int result = 0;
        if (mode == "recv") {
            result = SRecvMain();
        } else {
            result = SSendMain(std::atoi(argv[at + 1]),
                               static_cast<unsigned>(std::strtoul(argv[at + 2], nullptr, 10)));
        }
        std::printf("result %d\n", result);
        PrintEscaped("summary ", GetMsgBuffer());
        if (observe) {
            std::printf("blocks %lu %lu %llu %d\n", blocks.count, blocks.ok, blocks.moved,
                        blocks.inOrder ? 1 : 0);
        }
        status = GetRetCode();
    } else {
        return Usage();
    }
    std::fflush(stdout);
    if (hold) {
        Hold();
    }
    return status;
}
