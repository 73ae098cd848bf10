// Loopback session throughput of the NetBIOS provider against iperf3 in the same run: one
// sender on 127.0.0.2, one receiver on 127.0.0.3, the same message length (64002 bytes), the
// same CPU pinning (sender on CPU 0, receiver on CPU 1); the provider moves MESSAGES messages,
// iperf3 runs for SECONDS (time-based, so that its start-up does not count). Prints both rates
// and their ratio; bench/netbios/run.sh runs it in rounds.
//   bench_netbios [MESSAGES] [SECONDS]   (default 100000, at most 200000; 2 s, 1 to 60)
// Everything stays on loopback: the provider is given 127.0.0.x bindings, the loopback
// broadcast address and unprivileged ports.
#include "../pin.h"

#include "netbios.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <random>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr unsigned short MESSAGE = 64002;

void Settings(const char* address, unsigned port) {
    setenv("NETBIOS_LANAS", address, 1);
    setenv("NETBIOS_BROADCAST", "127.255.255.255", 1);
    setenv("NETBIOS_NAME_PORT", std::to_string(port).c_str(), 1);
    setenv("NETBIOS_SESSION_PORT", std::to_string(port + 1).c_str(), 1);
    unsetenv("NETBIOS_LMHOSTS");
    unsetenv("NETBIOS_WINS");
}

NCB Fresh(unsigned char command, const char* name = nullptr, const char* callname = nullptr) {
    NCB ncb;
    std::memset(&ncb, 0, sizeof ncb);
    ncb.ncb_command = command;
    if (name != nullptr) {
        std::memcpy(ncb.ncb_name, name, std::strlen(name));
    }
    if (callname != nullptr) {
        std::memcpy(ncb.ncb_callname, callname, std::strlen(callname));
    }
    ncb.ncb_rto = 60;
    ncb.ncb_sto = 60;
    return ncb;
}

bool Free(int type, const char* address, unsigned port) {
    int fd = socket(AF_INET, type, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<unsigned short>(port));
    inet_pton(AF_INET, address, &sa.sin_addr);
    bool ok = bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    close(fd);
    return ok;
}

unsigned FreePorts() {
    std::mt19937 random(std::random_device{}());
    for (int i = 0; i < 200; ++i) {
        unsigned p = 30000 + 2 * static_cast<unsigned>(random() % 10000);
        if (Free(SOCK_DGRAM, "127.255.255.255", p) && Free(SOCK_STREAM, "127.0.0.2", p + 1) &&
            Free(SOCK_STREAM, "127.0.0.3", p + 1) && Free(SOCK_STREAM, "127.0.0.3", p + 2)) {
            return p;
        }
    }
    return 0;
}

// Receiver: listens, then takes every message; exits 0 when all arrived whole.
int Receiver(unsigned port, unsigned count, int ready) {
    zebbench::Pin(1);
    Settings("127.0.0.3", port);
    NCB add = Fresh(NCBADDNAME, "ZEBSTRESSRECVER");
    Netbios(&add);
    NCB listen = Fresh(NCBLISTEN, "ZEBSTRESSRECVER", "ZEBSTRESSSENDER");
    if (add.ncb_retcode != 0 || write(ready, "r", 1) != 1) {
        return 2;
    }
    Netbios(&listen); // synchronous: returns when the sender has called
    if (listen.ncb_retcode != 0) {
        return 3;
    }
    std::vector<unsigned char> buffer(MESSAGE);
    for (unsigned i = 0; i < count; ++i) {
        NCB recv = Fresh(NCBRECV);
        recv.ncb_lsn = listen.ncb_lsn;
        recv.ncb_buffer = buffer.data();
        recv.ncb_length = MESSAGE;
        Netbios(&recv);
        if (recv.ncb_retcode != 0 || recv.ncb_length != MESSAGE) {
            return 4;
        }
    }
    NCB last = Fresh(NCBRECV);
    last.ncb_lsn = listen.ncb_lsn;
    last.ncb_buffer = buffer.data();
    last.ncb_length = MESSAGE;
    Netbios(&last);
    return last.ncb_retcode == NRC_SCLOSED ? 0 : 5;
}

double NetbiosRate(unsigned port, unsigned count) {
    int ready[2];
    if (pipe(ready) != 0) {
        return 0;
    }
    pid_t child = fork();
    if (child == 0) {
        close(ready[0]);
        _exit(Receiver(port, count, ready[1]));
    }
    close(ready[1]);
    char c;
    if (read(ready[0], &c, 1) != 1) {
        return 0;
    }
    zebbench::Pin(0);
    Settings("127.0.0.2", port);
    NCB add = Fresh(NCBADDNAME, "ZEBSTRESSSENDER");
    Netbios(&add);
    NCB call;
    for (int attempt = 0; attempt < 40; ++attempt) {
        call = Fresh(NCBCALL, "ZEBSTRESSSENDER", "ZEBSTRESSRECVER");
        Netbios(&call);
        if (call.ncb_retcode != NRC_NOCALL) {
            break;
        }
    }
    if (call.ncb_retcode != 0) {
        std::fprintf(stderr, "call failed: 0x%02X\n", call.ncb_retcode);
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        return 0;
    }
    std::vector<unsigned char> buffer(MESSAGE, 0x5a);
    auto start = std::chrono::steady_clock::now();
    for (unsigned i = 0; i < count; ++i) {
        NCB send = Fresh(NCBSEND);
        send.ncb_lsn = call.ncb_lsn;
        send.ncb_buffer = buffer.data();
        send.ncb_length = MESSAGE;
        Netbios(&send);
        if (send.ncb_retcode != 0) {
            std::fprintf(stderr, "send failed: 0x%02X\n", send.ncb_retcode);
            break;
        }
    }
    NCB hangup = Fresh(NCBHANGUP);
    hangup.ncb_lsn = call.ncb_lsn;
    Netbios(&hangup);
    int status = 0;
    waitpid(child, &status, 0); // the receiver has taken the last byte
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "receiver failed (status %d)\n", status);
        return 0;
    }
    return static_cast<double>(count) * MESSAGE / seconds;
}

double IperfRate(unsigned port, unsigned seconds) {
    std::string p = std::to_string(port);
    std::string server = "iperf3 -s -1 -B 127.0.0.3 -p " + p + " -A 1 >/dev/null 2>&1 &";
    if (std::system(server.c_str()) != 0) {
        return 0;
    }
    std::string client = "timeout " + std::to_string(seconds + 60) +
                         " iperf3 -c 127.0.0.3 -B 127.0.0.2 -p " + p + " -l " +
                         std::to_string(MESSAGE) + " -t " + std::to_string(seconds) + " -A 0 -J";
    std::string out;
    for (int attempt = 0; attempt < 20 && out.find("sum_received") == std::string::npos;
         ++attempt) {
        usleep(100000);
        out.clear();
        FILE* f = popen(client.c_str(), "r");
        if (f == nullptr) {
            return 0;
        }
        char buf[4096];
        std::size_t n = 0;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0) {
            out.append(buf, n);
        }
        pclose(f);
    }
    std::size_t at = out.find("\"sum_received\"");
    if (at == std::string::npos ||
        (at = out.find("\"bits_per_second\"", at)) == std::string::npos) {
        return 0;
    }
    return std::strtod(out.c_str() + out.find(':', at) + 1, nullptr) / 8;
}

} // namespace

int main(int argc, char** argv) {
    unsigned count = argc > 1 ? static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10)) : 100000;
    unsigned seconds = argc > 2 ? static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)) : 2;
    if (count == 0 || count > 200000 || seconds == 0 || seconds > 60) {
        std::fprintf(stderr, "usage: bench_netbios [MESSAGES 1..200000] [SECONDS 1..60]\n");
        return 2;
    }
    unsigned port = FreePorts();
    if (port == 0) {
        std::fprintf(stderr, "no free loopback ports\n");
        return 1;
    }
    // iperf3 first: the provider's thread would otherwise be running in this process.
    double iperf = IperfRate(port + 2, seconds);
    double netbios = NetbiosRate(port, count);
    std::printf("messages %u x %u bytes, iperf3 %u s\n", count, MESSAGE, seconds);
    std::printf("libnetbios session  %10.1f MB/s\n", netbios / 1e6);
    std::printf("iperf3 (same size)  %10.1f MB/s\n", iperf / 1e6);
    std::printf("ratio               %10.2f\n", iperf > 0 ? netbios / iperf : 0.0);
    return netbios > 0 && iperf > 0 ? 0 : 1;
}
