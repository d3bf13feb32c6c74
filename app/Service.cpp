#include "app/Service.h"

#include "app/StoredSettings.h"
#include "charset/CodeSet.h"
#include "core/Errors.h"
#include "platform/DataDir.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>

namespace marlix {

namespace {
// How often a long print lets the capture read and the signals arrive.
constexpr int kKeepAliveMs = 40;
constexpr int kPresenceTickMs = 100;
} // namespace

Service::Service(Registry& store, QTextStream& log, CaptureFactory capture)
    : store_(store), log_(log), captureFactory_(std::move(capture)), engine_(printer_),
      schemes_(store), monitor_(*this, jobFiles_) {
    engine_.sequences = &schemes_;
    engine_.codePageFile = codePageFile;
    engine_.KeepAlive = [this] {
        if (keepAlive_.elapsed() < kKeepAliveMs) return;
        QCoreApplication::processEvents();
        keepAlive_.restart();
    };
    timer1_.setSingleShot(false);
    timer2_.setInterval(kPresenceTickMs);
    connect(&timer1_, &QTimer::timeout, this, [this] {
        try {
            monitor_.Timer1Timer();
        } catch (const std::exception&) {
            // PrintOut has logged it; the job stays for the next try.
        }
    });
    connect(&timer2_, &QTimer::timeout, this, [this] { monitor_.Timer2Timer(); });
}

Service::~Service() {
    vxd_.reset(); // the capture goes first: nothing may arrive after the monitor
}

void Service::start() {
    schemes_.CheckSequencesRegistry();
    auto key = store_.openKey(kSettingsKey, false);
    const MonitorSettings m = readMonitorSettings(
        key.get(), QDir::home().filePath(QStringLiteral("prnspl")).toStdString());
    jobFile_ = m.jobFile;
    timeOut_ = m.timeOut;
    endOfPage_ = m.endOfPage;
    const PrinterChoice choice = readPrinterChoice(key.get());
    printer_.selectPrinter(currentPrinter(choice));
    if (!choice.pdfFolder.empty()) printer_.setPdfFolder(QString::fromStdString(choice.pdfFolder));
    codeset(engine_.codePage,
            dataFile(QString::fromStdString(readCodePage(key.get())) + QStringLiteral(".cp"))
                .toStdString());
    engine_.settings = readPrintSettings(key.get(), engine_);
    engine_.checksize();

    if (captureFactory_) {
        CaptureSettings settings;
        settings.jobFileName = [this] { return jobFile_; };
        settings.port = readCapturePort(key.get());
        vxd_ = captureFactory_(settings);
        vxd_->onError = [this](const std::string& reason) {
            logLine(QStringLiteral("capture: %1").arg(QString::fromStdString(reason)));
        };
        vxd_->setCapture(true);
    }
    timer2_.start();
    setMonitorInterval(timeOut_ * 1000);
    logLine(
        QStringLiteral("started: job file %1%2, printer %3")
            .arg(QString::fromStdString(jobFile_),
                 vxd_ ? QStringLiteral(", capture on ") + QString::fromStdString(vxd_->endpoint())
                      : QString(),
                 printer_.name()));
}

void Service::stop() {
    if (printing_) {
        stopping_ = true; // the end comes when the job is done
        return;
    }
    timer1_.stop();
    timer2_.stop();
    vxd_.reset();
    logLine(QStringLiteral("stopped"));
    emit stopped();
}

void Service::setMonitorInterval(int ms) {
    if (ms <= 0) {
        timer1_.stop();
    } else if (!stopping_) {
        timer1_.start(ms);
    }
}

void Service::jobPrinting() {
    if (vxd_) vxd_->jobPrinting();
}

void Service::jobDone(bool ended) {
    if (vxd_) vxd_->jobDone(ended);
}

std::uint64_t Service::PrintOut(const std::string& fileName) {
    if (printing_) throw Error(std::string(kPrintingInProgress));
    setMonitorInterval(0);
    printing_ = true;
    keepAlive_.start();
    const int pagesBefore = printer_.pageCount();
    const qsizetype filesBefore = printer_.writtenFiles().size();
    std::uint64_t bytes = 0;
    try {
        bytes = engine_.PrintOut(fileName);
        const QStringList pdfs = printer_.writtenFiles().mid(filesBefore);
        logLine(QStringLiteral("printed %1 bytes, %2 pages on %3%4")
                    .arg(bytes)
                    .arg(printer_.pageCount() - pagesBefore)
                    .arg(printer_.name(),
                         pdfs.isEmpty() ? QString()
                                        : QStringLiteral(": ") + pdfs.join(QStringLiteral(", "))));
    } catch (const std::exception& e) {
        logLine(QStringLiteral("failed %1 on %2: %3")
                    .arg(QString::fromStdString(fileName), printer_.name(),
                         QString::fromUtf8(e.what())));
        printing_ = false;
        if (stopping_) QMetaObject::invokeMethod(this, &Service::stop, Qt::QueuedConnection);
        throw;
    }
    printing_ = false;
    if (stopping_) QMetaObject::invokeMethod(this, &Service::stop, Qt::QueuedConnection);
    return bytes;
}

QStringList Service::printHandedOver(const QString& fileName) {
    const qsizetype before = printer_.writtenFiles().size();
    try {
        PrintOut(fileName.toStdString());
    } catch (...) {
        setMonitorInterval(timeOut_ * 1000);
        throw;
    }
    setMonitorInterval(timeOut_ * 1000);
    return printer_.writtenFiles().mid(before);
}

void Service::logLine(const QString& text) {
    log_ << QDateTime::currentDateTime().toString(Qt::ISODate) << ' ' << text << '\n';
    log_.flush();
}

} // namespace marlix
