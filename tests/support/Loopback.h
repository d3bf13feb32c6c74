// A sender of the tests' own: a plain blocking socket to a port on
// 127.0.0.1, so that a test knows exactly how much the system let it send.
#pragma once

#include <arpa/inet.h>
#include <cstdint>
#include <netinet/in.h>
#include <string_view>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace marlix::test {

// The connected socket, or -1.
inline int connectLoopback(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
    if (fd >= 0) ::close(fd);
    return -1;
}

// Sends a job as a print server's raw queue does: all of it, then the end of
// its side, then it waits until the port closes its own, which says that
// every byte was taken. false when the port reset the connection instead.
inline bool sendJob(std::uint16_t port, std::string_view bytes, int waitSeconds = 30) {
    const int fd = connectLoopback(port);
    if (fd < 0) return false;
    bool sent = true;
    for (std::size_t at = 0; sent && at < bytes.size();) {
        const ssize_t n = ::send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        sent = n > 0;
        at += sent ? std::size_t(n) : 0;
    }
    ::shutdown(fd, SHUT_WR);
    timeval wait{waitSeconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    char byte;
    const bool taken = sent && ::recv(fd, &byte, 1, 0) == 0;
    ::close(fd);
    return taken;
}

} // namespace marlix::test
