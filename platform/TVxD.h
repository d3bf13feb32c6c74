// The capture driver over a raw print port on the loopback interface: every
// connection is one print stream ("port 9100" printing), which DOSBox, QEMU,
// VirtualBox and a CUPS socket queue can all send to. It listens on 127.0.0.1
// and ::1 only, so no other machine ever reaches it, and takes jobs of its own
// user only (PeerUser).
#pragma once

#include "capture/CaptureDriver.h"
#include "capture/CaptureEndpoint.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <map>
#include <memory>
#include <set>
#include <vector>

class QTcpServer;
class QTcpSocket;

namespace marlix {

class TVxD final : public QObject, public CaptureDriver {
    Q_OBJECT

public:
    // What Qt keeps of a sender's bytes before they are read: with every
    // stream read as it comes, this bounds the memory per connection.
    static constexpr qint64 kReadBuffer = 16 * 1024;
    // Connections served at once. Those beyond wait in the system's queue; an
    // idle one that never sent anything gives way to them.
    static constexpr std::size_t kMaxStreams = 4096;
    // How often a port that could not be had is tried again.
    static constexpr int kRetryPortMs = 3000;

    // Listens at once. A port it cannot have (another program holds it) is
    // tried again every few seconds until it can; problem() says why. Port
    // 0 takes a free port (see port()).
    TVxD(JobFiles& files, const CaptureSettings& settings);
    ~TVxD() override;

    void setCapture(bool on) override;
    std::string endpoint() const override;
    std::string problem() const override { return problem_; }
    void flush(int ms) override;
    std::uint16_t port() const { return port_; }
    std::size_t streams() const { return streams_.size(); }

private:
    struct Stream {
        QTcpSocket* socket = nullptr;
        QByteArray unwritten; // taken from the sender, not yet on disk
        bool ended = false;
        bool sent = false; // has sent a byte
    };

    // Listens on both loopback addresses, or on none and says why.
    void listenAll();
    // Why the address can't be had; empty when it listens (or, not
    // required, when the system has no such address).
    std::string listen(QTcpServer& server, const char* address, bool required);
    void setProblem(const std::string& problem);
    static void reset(QTcpSocket& socket);
    void accept(QTcpServer* server);
    void addStream(QTcpSocket* socket);
    // Makes room for one more: the oldest connection that never sent a byte.
    bool dropIdle();
    void drain(CaptureEndpoint::StreamId id);
    void drainAll();
    void finish(CaptureEndpoint::StreamId id);
    std::int64_t nowMs() const { return clock_.elapsed(); }

    CaptureEndpoint endpoint_;
    std::uint16_t port_ = 0;
    std::vector<std::unique_ptr<QTcpServer>> servers_;
    std::map<CaptureEndpoint::StreamId, Stream> streams_; // by arrival
    CaptureEndpoint::StreamId next_ = 1;
    QElapsedTimer clock_;
    QTimer tick_;      // quiet streams become jobs; writes that failed are tried again
    QTimer retryPort_; // tries a port again that could not be had
    std::string problem_;
    std::set<unsigned> refusedUsers_; // told of once each
};

// The factory the main window uses, writing through the files on disk.
CaptureFactory loopbackCapture();

} // namespace marlix
