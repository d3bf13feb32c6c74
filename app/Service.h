// The headless service: the job file monitor and the capture port with the
// stored settings, without window or tray, for servers and sessions without
// a desktop. Every job it prints is one line on the log, every distinct
// failure one more; a job that fails on the way to paper is tried again by
// itself, after a pause that grows from the time-out up to five minutes.
#pragma once

#include "app/PrintSession.h"
#include "app/Settings.h"
#include "capture/CaptureDriver.h"
#include "capture/JobFiles.h"
#include "capture/JobMonitor.h"
#include "core/Registry.h"

#include <QObject>
#include <QStringList>
#include <QTextStream>
#include <QTimer>
#include <memory>

namespace marlix {

class Service final : public QObject, private JobMonitor::Host {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Service)

public:
    // How long a job that prints may go on after the end was asked for,
    // well within the unit's stop time-out: then it is given up whole and
    // printed at the next start.
    static constexpr int kStopGraceMs = 40'000;
    // How long the senders get to hand over what they were allowed to send.
    static constexpr int kFlushMs = 5'000;

    Service(Registry& store, QTextStream& log, CaptureFactory capture);
    ~Service() override;

    // Reads the settings, starts the monitor and the capture. Failures are
    // raised; nothing runs then. A capture port that is taken is no failure:
    // the service prints what reaches the job file and tries the port again.
    void start();
    // The end was asked for: a job being printed finishes first, or is given
    // up after kStopGraceMs (at once when asked a second time).
    void stop();
    // A later start handed over a file: printed like a job, not deleted.
    // Returns the PDF files written; failures are raised.
    QStringList printHandedOver(const QString& fileName);

    bool printing() const { return session_.printing(); }
    JobMonitor& monitor() { return monitor_; }
    CaptureDriver* capture() const { return vxd_.get(); }

signals:
    void stopped();

private:
    // JobMonitor::Host
    std::string jobFileName() override { return settings_.spool; }
    bool autoPrint() override { return true; } // nobody is there to click
    bool printAtEndOfPage() override { return settings_.formFeed; }
    int timeOut() override { return settings_.timeOut; }
    JobMonitor::Printed print(const std::string& fileName, std::uint64_t from, std::uint64_t to,
                              PrintMarker& marker) override;
    void setJobControls(bool) override {}
    void setPendingIcon(bool) override {}
    void setMonitorInterval(int ms) override;
    bool retriesByItself() override { return true; }
    void report(const std::string& text) override;

    PrintSession::Outcome printLogged(const QString& fileName, std::uint64_t from,
                                      std::uint64_t to);
    void finishStop();
    void logLine(const QString& text);

    Registry& store_;
    QTextStream& log_;
    CaptureFactory captureFactory_;
    PrintSession session_;
    Settings settings_;
    JobFiles jobFiles_;
    JobMonitor monitor_;
    std::unique_ptr<CaptureDriver> vxd_;
    QTimer timer1_; // the monitor tick
    QTimer timer2_; // the presence tick
    QString lastFailure_;
    bool stopping_ = false;
    bool stopped_ = false;
};

} // namespace marlix
