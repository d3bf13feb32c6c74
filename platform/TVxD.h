// The capture driver over a raw print port on the loopback interface: every
// connection is one print stream ("port 9100" printing), which DOSBox, QEMU,
// VirtualBox and a CUPS socket queue can all send to. It listens on 127.0.0.1
// and ::1 only, so no other machine ever reaches it.
#pragma once

#include "capture/CaptureDriver.h"
#include "capture/CaptureEndpoint.h"

#include <QByteArray>
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
    // Bytes taken from a sender at a time, and senders served at once:
    // together they bound what a capture ever keeps in memory.
    static constexpr qint64 kChunk = 256 * 1024;
    static constexpr std::size_t kMaxStreams = 32;

    // How often a port that could not be had is tried again.
    static constexpr int kRetryPortMs = 3000;

    // Listens at once. A port it cannot have (another program holds it) is
    // tried again every few seconds until it can; problem() says why. Port
    // 0 takes a free port (see port()).
    TVxD(JobFiles& files, const CaptureSettings& settings);
    ~TVxD() override;

    void setCapture(bool on) override { endpoint_.setCapture(on); }
    void jobPrinting() override { endpoint_.hold(); }
    void jobDone(bool ended) override { endpoint_.release(ended); }
    std::string endpoint() const override;
    std::string problem() const override { return problem_; }
    void flush(int ms) override;
    std::uint16_t port() const { return port_; }
    std::size_t streams() const { return streams_.size(); }

private:
    struct Stream {
        QTcpSocket* socket = nullptr;
        QByteArray unwritten; // taken from the sender, not yet in the file
        bool ended = false;
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
    void drain(CaptureEndpoint::StreamId id);
    void drainAll();
    void finish(CaptureEndpoint::StreamId id);
    void acceptMore();

    CaptureEndpoint endpoint_;
    std::uint16_t port_ = 0;
    std::vector<std::unique_ptr<QTcpServer>> servers_;
    std::map<CaptureEndpoint::StreamId, Stream> streams_; // by arrival
    CaptureEndpoint::StreamId next_ = 1;
    QTimer retry_;     // offers bytes again that could not be written
    QTimer retryPort_; // tries a port again that could not be had
    std::string problem_;
    std::set<unsigned> refusedUsers_; // told of once each
    bool draining_ = false;
    bool again_ = false; // the job file changed hands during a round
};

// The factory the main window uses, writing through the files on disk.
CaptureFactory loopbackCapture();

} // namespace marlix
