// The limit for the session stress on this machine: a plain framed TCP loop between the same
// loopback addresses (sender 127.0.0.2 on CPU 0, receiver 127.0.0.3 on CPU 1) that does per
// block only the work the receiver must do, and nothing of the NetBIOS layer:
//   - read one frame: a 4-byte header as the session service frames a message (type 0, the
//     17-bit length) and the 64002-byte block;
//   - format the block's announcement ("Received block %3u Size = 64K Bytes");
//   - append it as one compatibility-log record: open (append mode), lock, write, close;
//   - copy the block's data up to and including its first zero into the check buffer;
//   - check the pairs with the engine's pair scan.
// The sender sends BLOCKS blocks of 64000 data bytes and times its send loop, as the session
// sender does; the rate counts data bytes.
//   limit_harness BLOCKS PORT LOGDIR   (LOGDIR/ctlogs must exist)
// Prints "harness <blocks> <seconds> <bytes per second>"; exits 0 when every block arrived
// whole and passed the check.
#include "../pin.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "pairscan.h"

namespace {

constexpr std::size_t BLOCK = 64002; // what travels: the 2-byte size and 64000 data bytes
constexpr unsigned DATA_SIZE = 64000;
constexpr std::size_t FRAME_HEADER = 4;

sockaddr_in Address(const char* ip, unsigned port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<std::uint16_t>(port));
    inet_pton(AF_INET, ip, &sa.sin_addr);
    return sa;
}

bool ReadExactly(int fd, unsigned char* to, std::size_t size) {
    while (size > 0) {
        ssize_t n = recv(fd, to, size, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        to += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool WriteAll(int fd, const unsigned char* from, std::size_t size) {
    while (size > 0) {
        ssize_t n = send(fd, from, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        from += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// One record: type 7, the 16-bit length, the text XORed with its position.
void AppendRecord(const char* path, const char* text, std::size_t length) {
    static unsigned char record[3 + 512];
    if (length > sizeof record - 3) {
        length = sizeof record - 3;
    }
    int fd = open(path, O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        return;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
        record[0] = 7;
        record[1] = static_cast<unsigned char>(length & 0xFF);
        record[2] = static_cast<unsigned char>(length >> 8);
        for (std::size_t k = 0; k < length; ++k) {
            record[3 + k] = static_cast<unsigned char>(static_cast<unsigned char>(text[k]) ^ k);
        }
        if (write(fd, record, 3 + length) < 0) {
            // a lost record does not stop the loop, as in the engine
        }
    }
    close(fd);
}

// Receives until the sender closes; returns the process's exit status.
int Receiver(unsigned port, unsigned blocks, const std::string& logPath, int ready) {
    zebbench::Pin(1);
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in sa = Address("127.0.0.3", port);
    if (bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        listen(listener, 1) != 0 || write(ready, "r", 1) != 1) {
        return 2;
    }
    int fd = accept(listener, nullptr, nullptr);
    close(listener);
    if (fd < 0) {
        return 3;
    }
    // The block buffer keeps a zero behind the block, the check buffer room for any size.
    static unsigned char block[BLOCK + 1];
    static unsigned char check[65536];
    unsigned char header[FRAME_HEADER];
    char line[64];
    unsigned received = 0;
    unsigned bad = 0;
    std::uint16_t number = 0;
    while (ReadExactly(fd, header, FRAME_HEADER)) {
        const std::size_t length =
            (static_cast<std::size_t>(header[1] & 1) << 16) | (header[2] << 8) | header[3];
        if (header[0] != 0 || length != BLOCK || !ReadExactly(fd, block, BLOCK)) {
            return 4;
        }
        ++received;
        ++number;
        const unsigned size = block[0] | static_cast<unsigned>(block[1]) << 8;
        int n = size == DATA_SIZE
                    ? std::snprintf(line, sizeof line, "Received block %3u Size = 64K Bytes\r\n",
                                    static_cast<unsigned>(number))
                    : std::snprintf(line, sizeof line, "Received block %3u Size = %d Bytes\r\n",
                                    static_cast<unsigned>(number), static_cast<int>(size));
        AppendRecord(logPath.c_str(), line, static_cast<std::size_t>(n));
        const void* zero = std::memchr(block + 2, 0, BLOCK - 1);
        const std::size_t copy =
            zero != nullptr
                ? static_cast<std::size_t>(static_cast<const unsigned char*>(zero) - block - 2) + 1
                : BLOCK - 1;
        std::memcpy(check, block + 2, copy);
        if (FindBadPair(check, size) != NO_BAD_PAIR) {
            ++bad;
        }
    }
    close(fd);
    if (received != blocks || bad != 0) {
        std::fprintf(stderr, "receiver: %u of %u blocks, %u bad\n", received, blocks, bad);
        return 5;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: limit_harness BLOCKS PORT LOGDIR\n");
        return 64;
    }
    const auto blocks = static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10));
    const auto port = static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10));
    const std::string logPath = std::string(argv[3]) + "/ctlogs/PLV.log";
    if (blocks == 0 || blocks > 1000000 || port == 0 || port > 65535) {
        std::fprintf(stderr, "BLOCKS 1..1000000, PORT 1..65535\n");
        return 64;
    }
    int ready[2];
    if (pipe(ready) != 0) {
        return 1;
    }
    pid_t child = fork();
    if (child == 0) {
        close(ready[0]);
        _exit(Receiver(port, blocks, logPath, ready[1]));
    }
    close(ready[1]);
    char c;
    if (read(ready[0], &c, 1) != 1) {
        waitpid(child, nullptr, 0);
        std::fprintf(stderr, "the receiver did not start\n");
        return 1;
    }
    zebbench::Pin(0);
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in self = Address("127.0.0.2", 0);
    sockaddr_in peer = Address("127.0.0.3", port);
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (bind(fd, reinterpret_cast<sockaddr*>(&self), sizeof self) != 0 ||
        connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0) {
        std::perror("connect");
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        return 1;
    }
    // One frame as the session sender's block: the size, the pairs, a zero, then what the
    // buffer held (zeros).
    std::vector<unsigned char> frame(FRAME_HEADER + BLOCK, 0);
    frame[1] = static_cast<unsigned char>(BLOCK >> 16);
    frame[2] = static_cast<unsigned char>(BLOCK >> 8 & 0xFF);
    frame[3] = static_cast<unsigned char>(BLOCK & 0xFF);
    unsigned char* block = frame.data() + FRAME_HEADER;
    block[0] = DATA_SIZE & 0xFF;
    block[1] = DATA_SIZE >> 8;
    for (unsigned i = 0; i < DATA_SIZE / 2; ++i) {
        block[2 + 2 * i] = static_cast<unsigned char>(32 + i % 200);
        block[3 + 2 * i] = static_cast<unsigned char>(~block[2 + 2 * i]);
    }
    const auto start = std::chrono::steady_clock::now();
    unsigned sent = 0;
    while (sent < blocks && WriteAll(fd, frame.data(), frame.size())) {
        ++sent;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    close(fd);
    int status = 0;
    waitpid(child, &status, 0);
    if (sent != blocks || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "harness failed: %u of %u sent, receiver status %d\n", sent, blocks,
                     status);
        return 1;
    }
    std::printf("harness %u %.6f %.0f\n", blocks, seconds,
                static_cast<double>(blocks) * DATA_SIZE / seconds);
    return 0;
}
