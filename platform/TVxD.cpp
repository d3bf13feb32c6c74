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

// A server whose connections keep only a little of what their senders send
// before it is read, also while they wait in its queue.
class CaptureServer final : public QTcpServer {
public:
    using QTcpServer::QTcpServer;

protected:
    void incomingConnection(qintptr descriptor) override {
        auto* socket = new QTcpSocket(this);
        socket->setReadBufferSize(TVxD::kReadBuffer);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        addPendingConnection(socket);
    }
};

std::string endpointText(const char* address, std::uint16_t port) {
    const std::string host(address);
    return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
           std::to_string(port);
}
} // namespace

TVxD::TVxD(JobFiles& files, const CaptureSettings& settings)
    : endpoint_(files, settings.jobFileName,
                [quiet = settings.quietMs] { return quiet ? quiet() : std::int64_t{3000}; }),
      port_(settings.port) {
    clock_.start();
    endpoint_.onError = [this](const std::string& reason) {
        if (onError) onError(reason);
    };
    // What a run that ended by a crash or a kill had taken is not lost.
    endpoint_.recover();
    tick_.setInterval(250);
    connect(&tick_, &QTimer::timeout, this, [this] {
        drainAll(); // bytes that could not be written are offered again
        endpoint_.tick(nowMs());
    });
    tick_.start();
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
    // Whatever was taken is in the job file before we go.
    endpoint_.commitAll();
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

void TVxD::setCapture(bool on) {
    endpoint_.setCapture(on);
    if (on) drainAll();
}

std::string TVxD::endpoint() const {
    return endpointText("127.0.0.1", port_);
}

void TVxD::listenAll() {
    servers_.clear();
    auto& v4 = *servers_.emplace_back(std::make_unique<CaptureServer>());
    std::string why = listen(v4, "127.0.0.1", true);
    // A system without IPv6 has no ::1; only a port that is taken there counts.
    if (why.empty())
        why = listen(*servers_.emplace_back(std::make_unique<CaptureServer>()), "::1", false);
    if (!why.empty()) {
        servers_.clear();
        retryPort_.start();
    } else {
        retryPort_.stop();
    }
    setProblem(why);
}

std::string TVxD::listen(QTcpServer& server, const char* address, bool required) {
    // Senders that come all at once wait in the system's queue, not in the
    // cold of dropped connects.
    server.setListenBacklogSize(int(kMaxStreams));
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
    tick_.stop();
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
    // Each stream to its end. A sender that goes quiet this long mid-stream
    // has sent all it will.
    constexpr int kQuietMs = 1000;
    std::vector<CaptureEndpoint::StreamId> ended;
    for (auto& [id, s] : streams_) {
        for (;;) {
            if (s.unwritten.isEmpty()) {
                if (s.socket->bytesAvailable() == 0) {
                    if (s.socket->state() != QAbstractSocket::ConnectedState) {
                        ended.push_back(id);
                        break;
                    }
                    if (deadline.hasExpired()) break;
                    if (!s.socket->waitForReadyRead(int(std::min<qint64>(
                            kQuietMs, std::max<qint64>(deadline.remainingTime(), 1)))) &&
                        s.socket->state() == QAbstractSocket::ConnectedState)
                        break;
                    continue;
                }
                s.unwritten = s.socket->read(kReadBuffer);
            }
            const std::size_t taken = endpoint_.received(
                id, std::string_view(s.unwritten.constData(), std::size_t(s.unwritten.size())),
                nowMs());
            s.unwritten.remove(0, qsizetype(taken));
            if (!s.unwritten.isEmpty()) break; // the disk can't take more
        }
    }
    endpoint_.commitAll();
    // All a stream that ended sent is taken: its sender hears the end as it
    // would have. The others are reset when we go.
    for (const CaptureEndpoint::StreamId id : ended) {
        QTcpSocket* socket = streams_.at(id).socket;
        socket->disconnectFromHost();
        delete socket;
        streams_.erase(id);
    }
}

void TVxD::accept(QTcpServer* server) {
    while (server->hasPendingConnections()) {
        if (streams_.size() >= kMaxStreams && !dropIdle()) {
            // The rest wait in the system's queue until a stream ends.
            for (auto& s : servers_)
                s->pauseAccepting();
            return;
        }
        addStream(server->nextPendingConnection());
    }
}

bool TVxD::dropIdle() {
    for (auto it = streams_.begin(); it != streams_.end(); ++it) {
        if (it->second.sent || !it->second.unwritten.isEmpty()) continue;
        QTcpSocket* socket = it->second.socket;
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
        streams_.erase(it);
        return true;
    }
    return false;
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
    socket->setReadBufferSize(kReadBuffer);
    const CaptureEndpoint::StreamId id = next_++;
    streams_.emplace(id, Stream{socket, {}, false, false});
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
            s.unwritten = s.socket->read(kReadBuffer);
            s.sent = true;
        }
        const std::size_t taken = endpoint_.received(
            id, std::string_view(s.unwritten.constData(), std::size_t(s.unwritten.size())),
            nowMs());
        s.unwritten.remove(0, qsizetype(taken));
        // Not written (capture off, the disk full): the rest stays with the
        // sender until the next tick offers it again.
        if (!s.unwritten.isEmpty()) return;
    }
    if (s.ended || s.socket->state() == QAbstractSocket::UnconnectedState) finish(id);
}

void TVxD::drainAll() {
    std::vector<CaptureEndpoint::StreamId> ids;
    for (const auto& [id, stream] : streams_)
        if (!stream.unwritten.isEmpty() || stream.socket->bytesAvailable() > 0 || stream.ended)
            ids.push_back(id);
    for (const CaptureEndpoint::StreamId id : ids)
        drain(id);
}

void TVxD::finish(CaptureEndpoint::StreamId id) {
    auto it = streams_.find(id);
    QTcpSocket* socket = it->second.socket;
    socket->disconnect(this);
    socket->deleteLater();
    streams_.erase(it);
    endpoint_.closed(id);
    // Room again for those in the system's queue.
    for (auto& server : servers_) {
        server->resumeAccepting();
        if (server->hasPendingConnections()) accept(server.get());
    }
}

CaptureFactory loopbackCapture() {
    return [](const CaptureSettings& settings) -> std::unique_ptr<CaptureDriver> {
        static JobFiles files;
        return std::make_unique<TVxD>(settings.files ? *settings.files : files, settings);
    };
}

} // namespace marlix
