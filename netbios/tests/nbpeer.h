// What the provider's tests share: names in wire form, addresses, and a UDP socket of the test
// that plays a peer or a name server to the stations.
#ifndef ZEB_NETBIOS_TESTS_NBPEER_H
#define ZEB_NETBIOS_TESTS_NBPEER_H

#include "nbcodec.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <string>

namespace nbtest {

// A name as its first 15 bytes, zero-filled.
inline nb::WireName NameOf(const std::string& text) {
    nb::WireName n;
    std::memcpy(n.name.data(), text.data(), std::min<std::size_t>(text.size(), 15));
    return n;
}

inline std::uint32_t Ipv4(const char* text) {
    in_addr a{};
    inet_pton(AF_INET, text, &a);
    return ntohl(a.s_addr);
}

inline sockaddr_in SocketAddress(const char* address, std::uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(Ipv4(address));
    return sa;
}

// A UDP socket bound to address:port (port 0: any free one), shared with the stations' own
// sockets on that port, that takes name-service packets and tells where the last came from.
class UdpPeer {
  public:
    UdpPeer(const char* address, std::uint16_t port) {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        int one = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
        sockaddr_in sa = SocketAddress(address, port);
        socklen_t length = sizeof sa;
        if (bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
            getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &length) == 0) {
            port_ = ntohs(sa.sin_port);
        }
    }
    ~UdpPeer() { close(fd_); }
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    bool Bound() const { return port_ != 0; }
    std::uint16_t Port() const { return port_; }
    void SendTo(const nb::Bytes& packet, const char* address, std::uint16_t port) const {
        sockaddr_in to = SocketAddress(address, port);
        sendto(fd_, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    // To where the last packet came from.
    void Reply(const nb::Bytes& packet) const {
        sendto(fd_, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&from_),
               sizeof from_);
    }
    // The next name-service packet within timeoutMs, if one came.
    std::optional<nb::NamePacket> Receive(int timeoutMs) {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            until - std::chrono::steady_clock::now())
                            .count();
            pollfd p{fd_, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, static_cast<int>(left)) != 1) {
                return std::nullopt;
            }
            unsigned char buffer[1500];
            socklen_t length = sizeof from_;
            ssize_t n = recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from_),
                                 &length);
            nb::NamePacket packet;
            if (n > 0 && nb::ParseNamePacket({buffer, static_cast<std::size_t>(n)}, packet) ==
                             nb::ParseStatus::Ok) {
                return packet;
            }
        }
    }
    std::uint16_t FromPort() const { return ntohs(from_.sin_port); }
    std::string FromAddress() const {
        char text[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &from_.sin_addr, text, sizeof text);
        return text;
    }

  private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
    sockaddr_in from_{};
};

} // namespace nbtest

#endif
