#include "platform/PeerUser.h"

#include <QHostAddress>
#include <QTcpSocket>

#ifdef Q_OS_LINUX
#include <arpa/inet.h>
#include <cstring>
#include <fstream>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace marlix {

#ifdef Q_OS_LINUX
namespace {

// The kernel's socket diagnostics: one exact question, one answer.
struct Owner {
    unsigned uid = 0;
    bool gone = false; // no process holds the socket any more
};

std::optional<Owner> ownerBySocketDiagnostics(const QHostAddress& peer, quint16 peerPort,
                                              const QHostAddress& local, quint16 localPort) {
    const bool v6 = peer.protocol() == QAbstractSocket::IPv6Protocol;
    const int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (fd < 0) return std::nullopt;
    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } ask{};
    ask.header.nlmsg_len = sizeof ask;
    ask.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    ask.header.nlmsg_flags = NLM_F_REQUEST;
    ask.request.sdiag_family = v6 ? AF_INET6 : AF_INET;
    ask.request.sdiag_protocol = IPPROTO_TCP;
    ask.request.idiag_states = ~0u;
    // The socket asked about is the sender's: its own end is the peer.
    ask.request.id.idiag_sport = htons(peerPort);
    ask.request.id.idiag_dport = htons(localPort);
    if (v6) {
        const Q_IPV6ADDR from = peer.toIPv6Address(), to = local.toIPv6Address();
        std::memcpy(ask.request.id.idiag_src, &from, 16);
        std::memcpy(ask.request.id.idiag_dst, &to, 16);
    } else {
        ask.request.id.idiag_src[0] = htonl(peer.toIPv4Address());
        ask.request.id.idiag_dst[0] = htonl(local.toIPv4Address());
    }
    ask.request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    ask.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    std::optional<Owner> owner;
    if (::sendto(fd, &ask, sizeof ask, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) ==
        ssize_t(sizeof ask)) {
        alignas(nlmsghdr) char answer[4096];
        const ssize_t n = ::recv(fd, answer, sizeof answer, 0);
        const auto* header = reinterpret_cast<const nlmsghdr*>(answer);
        if (n >= ssize_t(sizeof(nlmsghdr)) && NLMSG_OK(header, unsigned(n)) &&
            header->nlmsg_type == SOCK_DIAG_BY_FAMILY &&
            header->nlmsg_len >= NLMSG_LENGTH(sizeof(inet_diag_msg))) {
            const auto* message = static_cast<const inet_diag_msg*>(NLMSG_DATA(header));
            owner = Owner{message->idiag_uid, message->idiag_inode == 0};
        }
    }
    ::close(fd);
    return owner;
}

// Where the diagnostics are not there: the kernel's table of TCP sockets,
// the sender's line found by its own port and ours.
std::optional<Owner> ownerByProcTable(bool v6, quint16 peerPort, quint16 localPort) {
    std::ifstream table(v6 ? "/proc/net/tcp6" : "/proc/net/tcp");
    std::string line;
    std::getline(table, line); // the heading
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, own, other, state, queues, timer, retransmits;
        unsigned uid = 0, timeout = 0;
        unsigned long inode = 0;
        if (!(fields >> slot >> own >> other >> state >> queues >> timer >> retransmits >> uid >>
              timeout >> inode))
            continue;
        auto port = [](const std::string& address) {
            return quint16(std::stoul(address.substr(address.find(':') + 1), nullptr, 16));
        };
        if (port(own) == peerPort && port(other) == localPort) return Owner{uid, inode == 0};
    }
    return std::nullopt;
}

} // namespace
#endif

std::optional<PeerUser> loopbackPeerUser(const QTcpSocket& socket) {
#ifdef Q_OS_LINUX
    const QHostAddress peer = socket.peerAddress();
    auto owner = ownerBySocketDiagnostics(peer, socket.peerPort(), socket.localAddress(),
                                          socket.localPort());
    if (!owner)
        owner = ownerByProcTable(peer.protocol() == QAbstractSocket::IPv6Protocol,
                                 socket.peerPort(), socket.localPort());
    if (!owner) return std::nullopt;
    PeerUser user{owner->uid, std::to_string(owner->uid), owner->gone};
    if (const passwd* entry = ::getpwuid(owner->uid); entry && !user.gone)
        user.name = entry->pw_name;
    return user;
#else
    (void)socket;
    return std::nullopt;
#endif
}

bool mayCapture(const PeerUser& user) {
#ifdef Q_OS_LINUX
    static const unsigned printServer = [] {
        const passwd* lp = ::getpwnam("lp");
        return lp ? unsigned(lp->pw_uid) : unsigned(-1);
    }();
    return !user.gone && (user.uid == ::geteuid() || user.uid == 0 || user.uid == printServer);
#else
    (void)user;
    return true;
#endif
}

} // namespace marlix
