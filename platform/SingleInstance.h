// The channel that keeps one resident copy per user: the first start takes a
// lock and listens on a local socket, later starts hand their request to it
// and wait for its answer. The program's channel is named from the user
// alone: a copy in another language, or with other settings, is still the
// same user's copy and must never print the same jobs beside it.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>

class QLocalServer;
class QLocalSocket;
class QLockFile;
class QTimer;

namespace marlix {

class SingleInstance final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SingleInstance)

public:
    // Longest request the receiver takes; a longer one drops the connection.
    static constexpr qsizetype kMaxRequest = 64 * 1024;
    // Longest answer send() accepts, so a corrupt length cannot make it
    // allocate gigabytes.
    static constexpr qsizetype kMaxAnswer = 16 * 1024 * 1024;

    // The program's channel, or one of another name (tests run several side
    // by side).
    explicit SingleInstance(const QString& channel = {}, QObject* parent = nullptr);
    ~SingleInstance() override;

    // "marlix-<user>-<16 hex digits of the channel's SHA-1>", usable as a
    // file name whatever the user and channel name contain.
    static QString serverName(const QString& channel);

    // Takes the lock and listens. false: another copy holds the lock (then
    // use send()), or, with errorString() set, the channel could not be made.
    bool listen();
    bool isListening() const;
    QString errorString() const { return error_; }
    // What listen() listens on and send() connects to: on Unix the socket
    // file's full path, in the user's runtime folder.
    QString address() const { return address_; }

    // Sends one request to the running copy and waits for its answer. The
    // copy says every second that it is still at the request, so timeoutMs
    // (negative: no limit) is how long it may stay silent, connect retries
    // included: the first copy may still be starting. Blocks and needs no
    // event loop, so it cannot reach a channel this same thread listens on.
    // nullopt when no copy answered, or when the request is longer than
    // kMaxRequest.
    static std::optional<QByteArray> send(const QString& channel, const QByteArray& request,
                                          int timeoutMs);

    // What to answer to a request; called on this object's thread from its
    // event loop, one request at a time in arrival order, never re-entered.
    // Requests that came earlier are handled once a handler is set; those
    // whose sender has already given up are skipped. A handler that can't
    // answer now (a job prints) returns nothing: the request keeps its place
    // and is offered again shortly.
    using Handler = std::function<std::optional<QByteArray>(const QByteArray& request)>;
    void setHandler(Handler handler);

    // How long a connection may take to deliver its request, and to close
    // after its answer; 10 s unless changed. Applies to later connections.
    void setIdleTimeout(int ms) { idleTimeoutMs_ = ms; }

private:
    struct Connection {
        QByteArray data;
        qint64 expected = -1; // the request's length once its header is in
        bool complete = false;
        QTimer* deadline = nullptr;
    };
    struct Pending {
        QPointer<QLocalSocket> socket;
        QByteArray request;
    };

    void accept();
    void readFrom(QLocalSocket* socket);
    void drop(QLocalSocket* socket);
    void scheduleHandling();
    void handlePending();

    QString address_;
    QString lockPath_;
    QString error_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer* server_;
    std::unordered_map<QLocalSocket*, Connection> connections_;
    std::deque<Pending> pending_;
    Handler handler_;
    bool handling_ = false;
    int idleTimeoutMs_ = 10'000;
};

} // namespace marlix
