// Who is at the other end of a loopback connection. The capture port listens
// on 127.0.0.1 and ::1 only, but every account on the machine reaches those:
// the system knows which user owns the sending socket, and the capture
// serves only its own user (and root, and the print server's user).
#pragma once

#include <optional>
#include <string>

class QTcpSocket;

namespace marlix {

struct PeerUser {
    unsigned uid = 0;
    std::string name; // "bob", or the number where the user has no name
    // The sender has closed its end already and no process holds it: the
    // system no longer says whose it was (it says root), so it is nobody's.
    bool gone = false;
};

// The user that owns the socket at the other end of a loopback connection;
// nothing where the system cannot tell at all (then the port stays
// loopback-only).
std::optional<PeerUser> loopbackPeerUser(const QTcpSocket& socket);

// Whether that user may print through this user's capture port: this user,
// root, and the print server's user "lp" (a raw print queue sends as it);
// never a sender that is gone.
bool mayCapture(const PeerUser& user);

} // namespace marlix
