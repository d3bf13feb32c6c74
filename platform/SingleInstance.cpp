// Lock, socket and framing of the single-instance channel.
#include "platform/SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QtEndian>
#include <algorithm>
#include <climits>
#include <utility>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace marlix {

namespace {

constexpr qsizetype kHeaderSize = 4;
constexpr qint64 kRetryMs = 50;
// A header of this length is no answer: the copy is still at the request.
constexpr quint32 kStillWorking = 0xFFFFFFFF;
constexpr int kStillWorkingMs = 1000;
// How soon a request the handler could not take yet is offered again.
constexpr int kAskAgainMs = 250;

QByteArray sha1Hex(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex();
}

bool isSafeInFileName(QChar c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
           c == u'.' || c == u'_' || c == u'-';
}

QString userPart() {
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty()) user = qEnvironmentVariable("USERNAME");
#ifdef Q_OS_UNIX
    if (user.isEmpty()) user = QString::number(::getuid());
#endif
    // The name ends up in a path: a "/" or ".." from the environment must not
    // move the socket or the lock somewhere else.
    QString safe;
    for (const QChar c : user)
        safe += isSafeInFileName(c) ? c : QLatin1Char('_');
    if (safe == user && safe.size() <= 32) return safe;
    // Users whose names differ only in replaced characters stay apart, and a
    // long name cannot push the socket path past the system's limit.
    return safe.left(24) + QLatin1Char('.') + QString::fromLatin1(sha1Hex(user.toUtf8()).left(8));
}

#ifdef Q_OS_UNIX
// A folder only this user can write to, so that whatever is in it (a lock,
// a socket) was put there by this user.
bool isPrivateFolder(const QByteArray& path) {
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & 077) == 0;
}
#endif

// Where the channel's lock and socket live: the runtime folder when it is
// the user's own, else a folder of ours in the user's cache folder, made
// private. Never a folder others can write to: another user could plant a
// lock that keeps the program from starting, or a socket that takes its
// requests. Empty when there is no such folder.
QString channelFolder() {
#ifdef Q_OS_UNIX
    static const QString folder = [] {
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        if (!runtime.isEmpty() && isPrivateFolder(runtime)) return QFile::decodeName(runtime);
        const QString cache =
            QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
        if (cache.isEmpty() || !QDir().mkpath(cache)) return QString();
        const QString own = QDir(cache).filePath(QStringLiteral("marlix"));
        const QByteArray path = QFile::encodeName(own);
        ::mkdir(path.constData(), 0700);
        struct stat st {};
        if (::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid())
            ::chmod(path.constData(), 0700);
        return isPrivateFolder(path) ? own : QString();
    }();
    return folder;
#else
    return QDir::tempPath();
#endif
}

QString addressOf(const QString& channel) {
#ifdef Q_OS_UNIX
    return QDir(channelFolder()).filePath(SingleInstance::serverName(channel));
#else
    return SingleInstance::serverName(channel);
#endif
}

QByteArray framed(const QByteArray& body) {
    QByteArray out(kHeaderSize, Qt::Uninitialized);
    qToBigEndian<quint32>(quint32(body.size()), out.data());
    return out + body;
}

int remainingMs(const QDeadlineTimer& deadline) {
    return int(std::min<qint64>(deadline.remainingTime(), INT_MAX));
}

// Blocks until n bytes are there; the sender has no event loop to wait in.
std::optional<QByteArray> readExactly(QLocalSocket& socket, qint64 n,
                                      const QDeadlineTimer& deadline) {
    while (socket.bytesAvailable() < n) {
        if (!socket.waitForReadyRead(remainingMs(deadline)) && socket.bytesAvailable() < n)
            return std::nullopt;
    }
    return socket.read(n);
}

} // namespace

SingleInstance::SingleInstance(const QString& channel, QObject* parent)
    : QObject(parent), address_(addressOf(channel)),
      lockPath_(QDir(channelFolder()).filePath(serverName(channel) + QStringLiteral(".lock"))),
      server_(new QLocalServer(this)) {
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, &SingleInstance::accept);
}

SingleInstance::~SingleInstance() {
    // The socket file goes while the lock is still ours: once the lock is
    // released a new copy may put its own socket at the same path.
    server_->close();
    lock_.reset();
}

QString SingleInstance::serverName(const QString& channel) {
    const QString t = channel.isEmpty() ? QStringLiteral("Marlix") : channel;
    return QStringLiteral("marlix-") + userPart() + QLatin1Char('-') +
           QString::fromLatin1(sha1Hex(t.toUtf8()).left(16));
}

bool SingleInstance::listen() {
    if (server_->isListening()) return true;
    error_.clear();
    if (channelFolder().isEmpty()) {
        error_ = QStringLiteral("There is no folder only this user can write to for the channel "
                                "that keeps one copy of Marlix per user");
        return false;
    }
    if (!lock_) {
        lock_ = std::make_unique<QLockFile>(lockPath_);
        // A resident copy holds the lock for days: only an owner that is gone
        // makes it stale, never its age.
        lock_->setStaleLockTime(0);
    }
    if (!lock_->isLocked() && !lock_->tryLock(0)) {
        if (lock_->error() != QLockFile::LockFailedError)
            error_ = QStringLiteral("Cannot create the lock file %1").arg(lockPath_);
        return false;
    }
    // A crashed copy leaves its socket file behind; only the lock holder may
    // remove it, or it would take a live copy's socket away. The lock stays
    // held when listening fails, so later starts do not each run on their own.
    QLocalServer::removeServer(address_);
    if (!server_->listen(address_)) {
        error_ = QStringLiteral("Cannot listen on %1: %2").arg(address_, server_->errorString());
        return false;
    }
    return true;
}

bool SingleInstance::isListening() const {
    return server_->isListening();
}

std::optional<QByteArray> SingleInstance::send(const QString& channel, const QByteArray& request,
                                               int timeoutMs) {
    if (request.size() > kMaxRequest || channelFolder().isEmpty()) return std::nullopt;
    auto silence = [timeoutMs] {
        return timeoutMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(timeoutMs);
    };
    QDeadlineTimer deadline = silence();
    const QString address = addressOf(channel);
    QLocalSocket socket;
    for (;;) {
        socket.connectToServer(address);
        if (socket.waitForConnected(remainingMs(deadline))) break;
        socket.abort();
        if (deadline.hasExpired()) return std::nullopt;
        // The first copy may hold the lock but not listen yet.
        const qint64 left = deadline.remainingTime();
        QThread::msleep(ulong(left < 0 ? kRetryMs : std::min(kRetryMs, left)));
    }
    socket.write(framed(request));
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(remainingMs(deadline))) return std::nullopt;
    }
    for (;;) {
        const auto header = readExactly(socket, kHeaderSize, deadline);
        if (!header) return std::nullopt;
        const quint32 length = qFromBigEndian<quint32>(header->constData());
        // The copy is alive and at it: the time without news starts anew.
        if (length == kStillWorking) {
            deadline = silence();
            continue;
        }
        if (length > quint32(kMaxAnswer)) return std::nullopt;
        auto answer = readExactly(socket, qint64(length), deadline);
        socket.disconnectFromServer();
        return answer;
    }
}

void SingleInstance::setHandler(Handler handler) {
    handler_ = std::move(handler);
    if (handler_ && !pending_.empty()) scheduleHandling();
}

void SingleInstance::accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        auto* deadline = new QTimer(socket);
        deadline->setSingleShot(true);
        deadline->setInterval(idleTimeoutMs_);
        connections_[socket].deadline = deadline;
        connect(deadline, &QTimer::timeout, this, [this, socket] { drop(socket); });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QObject::destroyed, this, [this, socket] { connections_.erase(socket); });
        deadline->start();
        if (socket->bytesAvailable() > 0) readFrom(socket);
    }
}

void SingleInstance::readFrom(QLocalSocket* socket) {
    const auto it = connections_.find(socket);
    if (it == connections_.end()) return;
    Connection& c = it->second;
    if (c.complete) {
        // One request per connection: anything after it is thrown away, so a
        // sender cannot fill the memory while it waits for its answer.
        socket->skip(socket->bytesAvailable());
        return;
    }
    if (c.expected < 0) {
        c.data += socket->read(kHeaderSize - c.data.size());
        if (c.data.size() < kHeaderSize) return;
        const quint32 length = qFromBigEndian<quint32>(c.data.constData());
        if (length > quint32(kMaxRequest)) {
            drop(socket);
            return;
        }
        c.expected = length;
        c.data.clear();
    }
    c.data += socket->read(c.expected - c.data.size());
    if (c.data.size() < c.expected) return;
    c.complete = true;
    c.deadline->stop(); // waiting for the handler is not the sender's fault
    // Until the answer comes, the sender hears every second that the copy is
    // alive and at it: a long print is no reason to give up, silence is.
    auto* alive = new QTimer(socket);
    alive->setObjectName(QStringLiteral("stillWorking"));
    alive->setInterval(kStillWorkingMs);
    connect(alive, &QTimer::timeout, socket, [socket] {
        QByteArray header(kHeaderSize, Qt::Uninitialized);
        qToBigEndian<quint32>(kStillWorking, header.data());
        socket->write(header);
    });
    alive->start();
    pending_.push_back({socket, std::exchange(c.data, {})});
    if (handler_) scheduleHandling();
}

void SingleInstance::drop(QLocalSocket* socket) {
    socket->abort();
    socket->deleteLater();
}

void SingleInstance::scheduleHandling() {
    // From the event loop, not from inside a socket's signal: the handler may
    // run for minutes and spin its own nested loop.
    QMetaObject::invokeMethod(this, &SingleInstance::handlePending, Qt::QueuedConnection);
}

void SingleInstance::handlePending() {
    // A handler that prints spins a nested event loop, which can bring more
    // requests here; they wait in the queue for their turn.
    if (handling_) return;
    handling_ = true;
    const QPointer<SingleInstance> alive(this);
    while (handler_ && !pending_.empty()) {
        Pending next = std::move(pending_.front());
        pending_.pop_front();
        // A sender that gave up has told its user that nobody answered;
        // acting on its request now would make that a lie.
        if (!next.socket || next.socket->state() != QLocalSocket::ConnectedState) continue;
        const Handler handler = handler_; // survives a setHandler() from inside the call
        const std::optional<QByteArray> answer = handler(next.request);
        if (!alive) return;
        if (!answer) {
            // Not now: it keeps its place at the head, and is asked again soon.
            pending_.push_front(std::move(next));
            QTimer::singleShot(kAskAgainMs, this, &SingleInstance::handlePending);
            break;
        }
        if (!next.socket || next.socket->state() != QLocalSocket::ConnectedState) continue;
        if (auto* stillWorking = next.socket->findChild<QTimer*>(QStringLiteral("stillWorking")))
            delete stillWorking;
        next.socket->write(framed(*answer));
        // The sender closes once it has read the answer; one that never does
        // is let go after the idle time.
        const auto it = connections_.find(next.socket.data());
        if (it != connections_.end()) it->second.deadline->start();
    }
    handling_ = false;
}

} // namespace marlix
