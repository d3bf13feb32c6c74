#include "platform/TVxD.h"

#include "capture/JobFiles.h"
#include "core/Errors.h"
#include "platform/PeerUser.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#endif

namespace marlix {

namespace {
std::string endpointText(const char* address, std::uint16_t port) {
    const std::string host(address);
    return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
           std::to_string(port);
}
} // namespace

TVxD::TVxD(JobFiles& files, const CaptureSettings& settings)
    : endpoint_(files, settings.jobFileName), port_(settings.port) {
    endpoint_.resume = [this] { drainAll(); };
    endpoint_.onError = [this](const std::string& reason) {
        if (onError) onError(reason);
    };
    retry_.setInterval(1000);
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, [this] { drainAll(); });
    retryPort_.setInterval(kRetryPortMs);
    connect(&retryPort_, &QTimer::timeout, this, &TVxD::listenAll);
    listenAll();
}

TVxD::~TVxD() {
    for (auto& [id, stream] : streams_) {
        stream.socket->disconnect(this);
        reset(*stream.socket);
        delete stream.socket;
    }
}

// A stream that ends before its sender did must end with a reset: a plain
// close, when nothing waits unread, looks to the sender as if every byte
// had been taken.
void TVxD::reset(QTcpSocket& socket) {
#ifdef Q_OS_UNIX
    const linger now{1, 0};
    if (socket.socketDescriptor() >= 0)
        ::setsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_LINGER, &now, sizeof now);
#endif
    socket.abort();
}

std::string TVxD::endpoint() const {
    return endpointText("127.0.0.1", port_);
}

void TVxD::listenAll() {
    servers_.clear();
    auto& v4 = *servers_.emplace_back(std::make_unique<QTcpServer>());
    std::string why = listen(v4, "127.0.0.1", true);
    // A system without IPv6 has no ::1; only a port that is taken there counts.
    if (why.empty())
        why = listen(*servers_.emplace_back(std::make_unique<QTcpServer>()), "::1", false);
    if (!why.empty()) {
        servers_.clear();
        retryPort_.start();
    } else {
        retryPort_.stop();
        if (streams_.size() >= kMaxStreams)
            for (auto& s : servers_)
                s->pauseAccepting();
    }
    setProblem(why);
}

std::string TVxD::listen(QTcpServer& server, const char* address, bool required) {
    if (server.listen(QHostAddress(QString::fromLatin1(address)), port_)) {
        port_ = server.serverPort(); // the free port that 0 asked for
        connect(&server, &QTcpServer::newConnection, this, [this, s = &server] { accept(s); });
        return {};
    }
    const auto error = server.serverError();
    if (error == QAbstractSocket::AddressInUseError)
        return "port " + std::to_string(port_) + " is in use by another program";
    if (!required && error != QAbstractSocket::SocketAccessError) return {};
    return "port " + std::to_string(port_) +
           " cannot be opened: " + server.errorString().toStdString();
}

void TVxD::setProblem(const std::string& problem) {
    if (problem == problem_) return;
    problem_ = problem;
    if (onProblem) onProblem(problem_);
}

void TVxD::flush(int ms) {
    const QDeadlineTimer deadline(ms);
    retryPort_.stop();
    retry_.stop();
    endpoint_.resume = nullptr; // the streams are taken in turn below, not as they come
    // Senders the system has let in count as much as those we served.
    for (auto& server : servers_) {
        while (server->waitForNewConnection(0)) {
        }
        while (server->hasPendingConnections())
            addStream(server->nextPendingConnection());
    }
    servers_.clear(); // no new senders from here on
    // The streams are read to their ends below, and nothing else may take
    // them meanwhile: the sockets' own signals come while we wait on them.
    for (auto& [id, stream] : streams_)
        stream.socket->disconnect(this);
    // One stream after the other, each to its end: the one that has the job
    // file first, the others in the order they came. A sender that goes
    // quiet this long mid-stream has sent all it will.
    constexpr int kQuietMs = 1000;
    std::vector<CaptureEndpoint::StreamId> order;
    if (const auto writer = endpoint_.writer()) order.push_back(*writer);
    for (const auto& [id, stream] : streams_)
        if (order.empty() || id != order.front()) order.push_back(id);
    for (const CaptureEndpoint::StreamId id : order) {
        const auto it = streams_.find(id);
        if (it == streams_.end()) continue;
        Stream& s = it->second;
        endpoint_.takeForLastWrite(id);
        bool ended = false;
        for (;;) {
            if (s.unwritten.isEmpty()) {
                if (s.socket->bytesAvailable() == 0) {
                    ended = s.socket->state() != QAbstractSocket::ConnectedState;
                    if (ended || deadline.hasExpired()) break;
                    if (!s.socket->waitForReadyRead(int(std::min<qint64>(
                            kQuietMs, std::max<qint64>(deadline.remainingTime(), 1)))) &&
                        s.socket->state() == QAbstractSocket::ConnectedState)
                        break;
                    continue;
                }
                s.unwritten = s.socket->read(kChunk);
            }
            const std::size_t taken = endpoint_.received(
                id, std::string_view(s.unwritten.constData(), std::size_t(s.unwritten.size())));
            s.unwritten.remove(0, qsizetype(taken));
            if (!s.unwritten.isEmpty()) break; // the job file can't take more
        }
        endpoint_.closed(id);
        if (!ended) continue; // cut: the sender learns it from the reset at the end
        // All it sent is taken: it hears the end as it would have.
        s.socket->disconnectFromHost();
        delete s.socket;
        streams_.erase(id);
    }
}

void TVxD::accept(QTcpServer* server) {
    while (streams_.size() < kMaxStreams && server->hasPendingConnections())
        addStream(server->nextPendingConnection());
    // The rest wait in the system's queue until a stream ends.
    if (streams_.size() >= kMaxStreams)
        for (auto& s : servers_)
            s->pauseAccepting();
}

void TVxD::addStream(QTcpSocket* socket) {
    socket->setParent(nullptr);
    // Another user's program must not print into this user's job file.
    if (const auto user = loopbackPeerUser(*socket); user && !mayCapture(*user)) {
        const unsigned key = user->gone ? ~0u : user->uid;
        if (refusedUsers_.insert(key).second && onError)
            onError(user->gone ? std::string("refused a connection whose sender had closed it "
                                             "before it was taken, so the system no longer says "
                                             "whose it was: a sender keeps its connection open "
                                             "until the port closes it")
                               : "refused a connection of user " + user->name + " (" +
                                     std::to_string(user->uid) +
                                     "): the port takes jobs of its own user only");
        reset(*socket);
        delete socket;
        return;
    }
    // Qt stops reading from the system when this much waits with us, so a
    // sender we do not serve yet is held back by flow control.
    socket->setReadBufferSize(kChunk);
    const CaptureEndpoint::StreamId id = next_++;
    streams_.emplace(id, Stream{socket, {}, false});
    connect(socket, &QTcpSocket::readyRead, this, [this, id] { drain(id); });
    // The stream ends when all it sent has been taken.
    auto ended = [this, id] {
        if (auto it = streams_.find(id); it != streams_.end()) {
            it->second.ended = true;
            drain(id);
        }
    };
    connect(socket, &QTcpSocket::disconnected, this, ended);
    connect(socket, &QTcpSocket::errorOccurred, this, [ended](auto error) {
        if (error != QAbstractSocket::RemoteHostClosedError) ended(); // else disconnected follows
    });
    if (socket->state() != QAbstractSocket::ConnectedState) streams_.at(id).ended = true;
    drain(id);
}

void TVxD::drain(CaptureEndpoint::StreamId id) {
    auto it = streams_.find(id);
    if (it == streams_.end()) return;
    Stream& s = it->second;
    for (;;) {
        if (s.unwritten.isEmpty()) {
            if (s.socket->bytesAvailable() == 0) break;
            if (!endpoint_.mayRead(id)) return;
            s.unwritten = s.socket->read(kChunk);
        } else if (!endpoint_.mayRead(id)) {
            return;
        }
        const std::size_t taken = endpoint_.received(
            id, std::string_view(s.unwritten.constData(), std::size_t(s.unwritten.size())));
        s.unwritten.remove(0, qsizetype(taken));
        if (!s.unwritten.isEmpty()) {
            retry_.start();
            return;
        }
    }
    if (s.ended || s.socket->state() == QAbstractSocket::UnconnectedState) finish(id);
}

void TVxD::drainAll() {
    // Draining may end streams and hand the job file on, which asks for
    // another round; one at a time, oldest stream first.
    if (draining_) {
        again_ = true;
        return;
    }
    draining_ = true;
    do {
        again_ = false;
        std::vector<CaptureEndpoint::StreamId> ids;
        for (const auto& [id, stream] : streams_)
            ids.push_back(id);
        for (CaptureEndpoint::StreamId id : ids)
            drain(id);
    } while (again_);
    draining_ = false;
}

void TVxD::finish(CaptureEndpoint::StreamId id) {
    auto it = streams_.find(id);
    QTcpSocket* socket = it->second.socket;
    socket->disconnect(this);
    socket->deleteLater();
    streams_.erase(it);
    endpoint_.closed(id);
    acceptMore();
}

void TVxD::acceptMore() {
    if (streams_.size() >= kMaxStreams) return;
    for (auto& s : servers_) {
        s->resumeAccepting();
        if (s->hasPendingConnections()) accept(s.get());
    }
}

CaptureFactory loopbackCapture() {
    return [](const CaptureSettings& settings) -> std::unique_ptr<CaptureDriver> {
        static JobFiles files;
        return std::make_unique<TVxD>(settings.files ? *settings.files : files, settings);
    };
}

} // namespace marlix
