// The headless service: the job file monitor and the capture port with the
// stored settings, without window or tray, for servers and sessions without
// a desktop. Every job it prints is one line on the log.
#pragma once

#include "capture/CaptureDriver.h"
#include "capture/JobFiles.h"
#include "capture/JobMonitor.h"
#include "core/Registry.h"
#include "engine/PrintEngine.h"
#include "platform/QtPrinter.h"
#include "schemes/SchemeStore.h"

#include <QElapsedTimer>
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
    Service(Registry& store, QTextStream& log, CaptureFactory capture);
    ~Service() override;

    // Reads the settings, starts the monitor and the capture. Failures are
    // raised; nothing runs then.
    void start();
    // The end was asked for: a job being printed finishes first.
    void stop();
    // A later start handed over a file: printed like a job, not deleted.
    QStringList printHandedOver(const QString& fileName);

    JobMonitor& monitor() { return monitor_; }
    CaptureDriver* capture() const { return vxd_.get(); }

signals:
    void stopped();

private:
    // JobMonitor::Host
    std::string jobFileName() override { return jobFile_; }
    bool autoPrint() override { return true; } // nobody is there to click
    bool printAtEndOfPage() override { return endOfPage_; }
    int timeOut() override { return timeOut_; }
    std::uint64_t PrintOut(const std::string& fileName) override;
    void setJobControls(bool) override {}
    void setPendingIcon(bool) override {}
    void setMonitorInterval(int ms) override;
    void jobPrinting() override;
    void jobDone(bool ended) override;

    void logLine(const QString& text);

    Registry& store_;
    QTextStream& log_;
    CaptureFactory captureFactory_;
    QtPrinter printer_;
    PrintEngine engine_;
    SchemeStore schemes_;
    DiskJobFiles jobFiles_;
    JobMonitor monitor_;
    std::unique_ptr<CaptureDriver> vxd_;
    QTimer timer1_; // the monitor tick
    QTimer timer2_; // the presence tick
    QElapsedTimer keepAlive_;
    std::string jobFile_;
    int timeOut_ = 3;
    bool endOfPage_ = false;
    bool printing_ = false;
    bool stopping_ = false;
};

} // namespace marlix
