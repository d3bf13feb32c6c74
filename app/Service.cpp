#include "app/Service.h"

#include "core/Errors.h"

#include <QDateTime>

namespace marlix {

namespace {
constexpr int kPresenceTickMs = 100;

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}
} // namespace

Service::Service(Registry& store, QTextStream& log, CaptureFactory capture)
    : store_(store), log_(log), captureFactory_(std::move(capture)), session_(store),
      monitor_(*this, jobFiles_) {
    session_.onPrinting = [this](bool printing) {
        if (printing)
            setMonitorInterval(0);
        else
            setMonitorInterval(settings_.timeOut * 1000);
    };
    session_.onNotice = [this](const QString& text) { logLine(text); };
    timer1_.setSingleShot(false);
    timer2_.setInterval(kPresenceTickMs);
    connect(&timer1_, &QTimer::timeout, this, [this] { monitor_.Timer1Timer(); });
    connect(&timer2_, &QTimer::timeout, this, [this] { monitor_.Timer2Timer(); });
}

Service::~Service() {
    vxd_.reset(); // the capture goes first: nothing may arrive after the monitor
}

void Service::start() {
    // A store that can't be read or written is no reason not to print: the
    // defaults hold, and it is said once.
    if (const std::string problem = store_.problem(); !problem.empty())
        logLine(QString::fromStdString(problem));
    try {
        session_.schemes().CheckSequencesRegistry();
    } catch (const Error& e) {
        if (store_.problem().empty()) logLine(QString::fromUtf8(e.what()));
    }
    auto key = store_.openKey(kSettingsKey, false);
    settings_ = readSettings(key.get(), session_.engine());
    session_.configure(settings_);
    session_.engine().checksize();

    QString capture = QStringLiteral(", capture off");
    if (captureFactory_ && settings_.capture) {
        CaptureSettings cs;
        cs.jobFileName = [this] { return settings_.spool; };
        cs.quietMs = [this] { return std::int64_t{settings_.timeOut} * 1000; };
        cs.port = capturePort(settings_);
        cs.files = &jobFiles_;
        vxd_ = captureFactory_(cs);
        vxd_->onError = [this](const std::string& reason) {
            logLine(QStringLiteral("capture: %1").arg(qs(reason)));
        };
        vxd_->onProblem = [this](const std::string& problem) {
            logLine(problem.empty() ? QStringLiteral("capture on %1").arg(qs(vxd_->endpoint()))
                                    : QStringLiteral("capture: %1; trying again").arg(qs(problem)));
        };
        vxd_->setCapture(true);
        capture = vxd_->problem().empty()
                      ? QStringLiteral(", capture on ") + qs(vxd_->endpoint())
                      : QStringLiteral(", capture: %1; trying again").arg(qs(vxd_->problem()));
    }
    timer2_.start();
    setMonitorInterval(settings_.timeOut * 1000);
    logLine(QStringLiteral("started: job file %1%2, printer %3")
                .arg(qs(settings_.spool), capture, session_.printer().name()));
}

void Service::stop() {
    if (stopped_) return;
    if (stopping_) {
        session_.abandon(); // asked again: now
        return;
    }
    stopping_ = true;
    timer1_.stop();
    timer2_.stop();
    if (!session_.printing()) return finishStop();
    // The end comes when the print returns (printLogged).
    QTimer::singleShot(kStopGraceMs, this, [this] { session_.abandon(); });
}

void Service::finishStop() {
    if (stopped_) return;
    stopped_ = true;
    // Every byte the senders were allowed to send is in the job file before we go.
    if (vxd_) vxd_->flush(kFlushMs);
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

void Service::report(const std::string& text) {
    logLine(qs(text));
}

PrintSession::Outcome Service::printLogged(const QString& fileName, std::uint64_t from,
                                           std::uint64_t to) {
    using Result = PrintSession::Result;
    const PrintSession::Outcome out = session_.print(fileName, from, to);
    const QString printer = session_.printer().name();
    switch (out.result) {
    case Result::Printed:
        lastFailure_.clear();
        logLine(QStringLiteral("printed %1 bytes, %2 pages on %3%4")
                    .arg(out.end - from)
                    .arg(out.pages)
                    .arg(printer, out.pdfs.isEmpty() ? QString()
                                                     : QStringLiteral(": ") +
                                                           out.pdfs.join(QStringLiteral(", "))));
        break;
    case Result::JobFailed:
        logLine(QStringLiteral("failed %1 on %2: %3").arg(fileName, printer, out.message));
        break;
    case Result::Failed:
        // A failure that stays is said once, not at every try.
        if (out.message != lastFailure_)
            logLine(QStringLiteral("failed %1 on %2: %3").arg(fileName, printer, out.message));
        lastFailure_ = out.message;
        break;
    case Result::Cancelled:
    case Result::Abandoned:
        logLine(QStringLiteral("stopped printing %1; it is printed whole at the next start")
                    .arg(fileName));
        break;
    }
    if (stopping_) QMetaObject::invokeMethod(this, &Service::finishStop, Qt::QueuedConnection);
    return out;
}

JobMonitor::Printed Service::print(const std::string& fileName, std::uint64_t from,
                                   std::uint64_t to, PrintMarker& marker) {
    QtPrinter& printer = session_.printer();
    printer.onPartStarted = [&marker](const QString& part) {
        marker.note("part " + part.toStdString());
    };
    printer.onPdfDone = [&marker](const QString& pdf) { marker.note("pdf " + pdf.toStdString()); };
    const PrintSession::Outcome out = printLogged(qs(fileName), from, to);
    printer.onPartStarted = nullptr;
    printer.onPdfDone = nullptr;
    return {out.result, out.message.toStdString()};
}

QStringList Service::printHandedOver(const QString& fileName) {
    if (session_.printing()) throw Error(std::string(kPrintingInProgress));
    const PrintSession::Outcome out = printLogged(fileName, 0, ~std::uint64_t{0});
    if (!out.ok()) throw Error(out.message.toStdString());
    return out.pdfs;
}

void Service::logLine(const QString& text) {
    log_ << QDateTime::currentDateTime().toString(Qt::ISODate) << ' '
         << QString::fromStdString(oneLine(text.toStdString())) << '\n';
    log_.flush();
}

} // namespace marlix
