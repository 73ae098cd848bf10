// A NetBIOS station driven by line commands on standard input, one answer line per command
// on standard output. The two-station tests run two of these, each with its own settings.
//
//   add NAME | addgroup NAME | del NAME       -> "<rc> <num>"
//   listen NAME CALLNAME [RTO STO]            asynchronous listen -> "<rc>"
//   wait MS                                   waits for that listen -> "<rc> <lsn> <callname>"
//   cancel                                    cancels it -> "<rc> <listen cmd_cplt>"
//   slisten NAME CALLNAME                     synchronous listen -> "<rc> <lsn>"
//   call NAME CALLNAME [RTO STO]              -> "<rc> <lsn>"
//   send LSN COUNT LEN                        COUNT checked messages -> "<rc> <sent>"
//   recv LSN COUNT LEN                        receive and check them -> "<rc> <good> <bad>"
//   recv1 LSN BUFLEN                          one receive -> "<rc> <length>"
//   hangup LSN | reset | resetfull | probe LANA -> "<rc>"
//   quit
// Names are up to 15 characters, copied into a zeroed 16-byte field. Every command goes to
// LANA 0 unless "lana N" set another.
#include "nbmessage.h"
#include "netbios.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

unsigned char Lana = 0;
NCB ListenNcb;

void SetName(unsigned char* field, const std::string& name) {
    std::memset(field, 0, NCBNAMSZ);
    std::copy_n(name.data(), name.size() < 15 ? name.size() : 15, field);
}

NCB Fresh(unsigned char command) {
    NCB ncb;
    std::memset(&ncb, 0, sizeof ncb);
    ncb.ncb_command = command;
    ncb.ncb_lana_num = Lana;
    return ncb;
}

std::string Hex(unsigned code) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", code);
    return text;
}

unsigned char CmdCplt(NCB& ncb) {
    return std::atomic_ref<unsigned char>(ncb.ncb_cmd_cplt).load(std::memory_order_acquire);
}

std::string Run(const std::string& line) {
    std::istringstream in(line);
    std::string cmd;
    in >> cmd;
    if (cmd == "lana") {
        unsigned n = 0;
        in >> n;
        Lana = static_cast<unsigned char>(n);
        return "ok";
    }
    if (cmd == "add" || cmd == "addgroup" || cmd == "del") {
        std::string name;
        in >> name;
        NCB ncb = Fresh(cmd == "add" ? NCBADDNAME : cmd == "del" ? NCBDELNAME : NCBADDGRNAME);
        SetName(ncb.ncb_name, name);
        Netbios(&ncb);
        return Hex(ncb.ncb_retcode) + " " + std::to_string(ncb.ncb_num);
    }
    if (cmd == "listen" || cmd == "slisten" || cmd == "call") {
        std::string name;
        std::string callname;
        unsigned rto = 0;
        unsigned sto = 0;
        in >> name >> callname >> rto >> sto;
        bool async = cmd == "listen";
        NCB local = Fresh(cmd == "call" ? NCBCALL : NCBLISTEN);
        NCB& ncb = async ? ListenNcb : local;
        if (async) {
            ncb = Fresh(NCBLISTEN | ASYNCH);
        }
        SetName(ncb.ncb_name, name);
        SetName(ncb.ncb_callname, callname);
        ncb.ncb_rto = static_cast<unsigned char>(rto);
        ncb.ncb_sto = static_cast<unsigned char>(sto);
        unsigned char rc = Netbios(&ncb);
        if (async) {
            return Hex(rc) + " " + Hex(CmdCplt(ncb));
        }
        return Hex(ncb.ncb_retcode) + " " + std::to_string(ncb.ncb_lsn);
    }
    if (cmd == "wait") {
        unsigned ms = 0;
        in >> ms;
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (CmdCplt(ListenNcb) == NRC_PENDING && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        if (CmdCplt(ListenNcb) == NRC_PENDING) {
            return "pending";
        }
        std::string caller(reinterpret_cast<char*>(ListenNcb.ncb_callname),
                           strnlen(reinterpret_cast<char*>(ListenNcb.ncb_callname), NCBNAMSZ));
        return Hex(ListenNcb.ncb_retcode) + " " + std::to_string(ListenNcb.ncb_lsn) + " " + caller;
    }
    if (cmd == "cancel") {
        NCB ncb = Fresh(NCBCANCEL);
        ncb.ncb_buffer = reinterpret_cast<unsigned char*>(&ListenNcb);
        Netbios(&ncb);
        return Hex(ncb.ncb_retcode) + " " + Hex(CmdCplt(ListenNcb));
    }
    if (cmd == "send" || cmd == "recv") {
        unsigned lsn = 0;
        unsigned count = 0;
        unsigned len = 0;
        in >> lsn >> count >> len;
        std::vector<unsigned char> buf(len);
        std::vector<unsigned char> expect(len);
        unsigned good = 0;
        unsigned bad = 0;
        unsigned char rc = 0;
        for (unsigned i = 0; i < count; ++i) {
            NCB ncb = Fresh(cmd == "send" ? NCBSEND : NCBRECV);
            ncb.ncb_lsn = static_cast<unsigned char>(lsn);
            ncb.ncb_buffer = buf.data();
            ncb.ncb_length = static_cast<unsigned short>(len);
            if (cmd == "send") {
                FillMessage(buf, i);
            }
            Netbios(&ncb);
            rc = ncb.ncb_retcode;
            if (rc != 0) {
                break;
            }
            if (cmd == "recv") {
                FillMessage(expect, i);
                (ncb.ncb_length == len && buf == expect ? good : bad) += 1;
            } else {
                ++good;
            }
        }
        return Hex(rc) + " " + std::to_string(good) +
               (cmd == "recv" ? " " + std::to_string(bad) : "");
    }
    if (cmd == "recv1") {
        unsigned lsn = 0;
        unsigned len = 0;
        in >> lsn >> len;
        std::vector<unsigned char> buf(len + 1);
        NCB ncb = Fresh(NCBRECV);
        ncb.ncb_lsn = static_cast<unsigned char>(lsn);
        ncb.ncb_buffer = buf.data();
        ncb.ncb_length = static_cast<unsigned short>(len);
        Netbios(&ncb);
        return Hex(ncb.ncb_retcode) + " " + std::to_string(ncb.ncb_length);
    }
    if (cmd == "hangup" || cmd == "reset" || cmd == "resetfull" || cmd == "probe") {
        unsigned n = 0;
        in >> n;
        NCB ncb = Fresh(cmd == "hangup" ? NCBHANGUP : cmd == "probe" ? 0x7f : NCBRESET);
        if (cmd == "hangup") {
            ncb.ncb_lsn = static_cast<unsigned char>(n);
        } else if (cmd == "probe") {
            ncb.ncb_lana_num = static_cast<unsigned char>(n);
        } else if (cmd == "resetfull") {
            ncb.ncb_lsn = 1; // asks for resources: clears the LANA
        } else {
            ncb.ncb_lana_num = 0;
        }
        Netbios(&ncb);
        return Hex(ncb.ncb_retcode);
    }
    return "unknown";
}

} // namespace

int main() {
    std::string line;
    while (std::getline(std::cin, line)) {
        if (line == "quit") {
            break;
        }
        std::cout << Run(line) << std::endl;
    }
    return 0;
}
