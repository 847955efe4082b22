#include "vpcd_link.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace carvix::vcard {

VpcdLink::~VpcdLink() {
    Close();
}

void VpcdLink::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool VpcdLink::TryConnect(const std::string& host, int port) {
    Close();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
        return false;
    }
    for (addrinfo* a = found; a != nullptr && fd_ < 0; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            continue;
        }
        if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0) {
            const int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            fd_ = fd;
        } else {
            ::close(fd);
        }
    }
    ::freeaddrinfo(found);
    return fd_ >= 0;
}

bool VpcdLink::ReadFully(std::uint8_t* buf, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        // The driver sends a message's length and its body in two writes; acknowledging at
        // once keeps its Nagle timer from holding the body back for a delayed ACK (~40 ms a
        // command). The kernel clears the flag after use, so it is set before every read.
        const int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
        const ssize_t got = ::recv(fd_, buf + done, n - done, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

std::optional<Bytes> VpcdLink::Receive() {
    std::uint8_t head[2];
    if (fd_ < 0 || !ReadFully(head, 2)) {
        Close();
        return std::nullopt;
    }
    Bytes msg((std::size_t{head[0]} << 8) | head[1]);
    if (!msg.empty() && !ReadFully(msg.data(), msg.size())) {
        Close();
        return std::nullopt;
    }
    return msg;
}

bool VpcdLink::Send(const Bytes& message) {
    if (fd_ < 0 || message.size() > 0xFFFF) {
        return false;
    }
    Bytes framed{static_cast<std::uint8_t>(message.size() >> 8),
                 static_cast<std::uint8_t>(message.size() & 0xFF)};
    framed.insert(framed.end(), message.begin(), message.end());
    std::size_t done = 0;
    while (done < framed.size()) {
        const ssize_t n = ::send(fd_, framed.data() + done, framed.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            Close();
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace carvix::vcard
