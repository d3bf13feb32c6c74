// Program entry: one resident copy (or service) per user. A later start
// hands over to the running copy (show yourself, or print this file) and
// ends; a first start with a job file prints it and ends; --service runs
// without window; otherwise the resident program starts.
#include "app/CommandLine.h"
#include "app/LanguageFile.h"
#include "app/Service.h"
#include "app/SettingNames.h"
#include "app/TForm1.h"
#include "core/Errors.h"
#include "platform/DataDir.h"
#include "platform/EndSignals.h"
#include "platform/SettingsRegistry.h"
#include "platform/SingleInstance.h"
#include "platform/TVxD.h"

#include <QApplication>
#include <QFileInfo>
#include <QStringList>
#include <QTextStream>

namespace {

const QByteArray kShowRequest = "show";
const QByteArray kPrintRequest = "print\n";
// A show request is answered at once; a file is answered once it printed.
constexpr int kShowWaitMs = 900;
constexpr int kPrintWaitMs = -1;

// Printing from the command line must work on a server without a display.
void useOffscreenWithoutDisplay() {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
}

// The Title of the stored language: the name the running copy answers to.
QString storedTitle(marlix::Registry& store) {
    QString language = QStringLiteral("English");
    if (auto key = store.openKey(marlix::kSettingsKey, false))
        if (auto v = key->readString(marlix::setting::Language))
            language = QString::fromStdString(*v);
    QString file = marlix::dataFile(language + QStringLiteral(".lng"));
    if (!QFileInfo(file).isFile()) file = marlix::dataFile(QStringLiteral("English.lng"));
    return QString::fromStdString(marlix::LanguageFile::read(file.toStdString()).text("Title"));
}

// The running copy's side of a hand-over.
QByteArray answer(marlix::TForm1& window, const QByteArray& request) {
    if (!request.startsWith(kPrintRequest)) {
        window.showRequest();
        return "0\n";
    }
    const QString file = QString::fromUtf8(request.mid(kPrintRequest.size()));
    try {
        const QStringList pdfs = window.printHandedOver(file);
        QByteArray out = "0\n";
        for (const QString& pdf : pdfs)
            out += pdf.toUtf8() + '\n';
        return out;
    } catch (const std::exception& e) {
        return QByteArray("1\n") + e.what() + '\n';
    }
}

// The later start's side: prints what the running copy answered.
int handOver(const QString& title, const marlix::Invocation& run, QTextStream& out,
             QTextStream& err) {
    const bool print = run.mode == marlix::Invocation::Mode::Print;
    const QByteArray request =
        print ? kPrintRequest + QFileInfo(run.file).absoluteFilePath().toUtf8() : kShowRequest;
    const auto reply =
        marlix::SingleInstance::send(title, request, print ? kPrintWaitMs : kShowWaitMs);
    if (!print) return 0;
    if (!reply) {
        err << "The running copy of Marlix did not answer.\n";
        return 1;
    }
    const bool ok = reply->startsWith("0\n");
    (ok ? out : err) << QString::fromUtf8(reply->mid(2));
    return ok ? 0 : 1;
}

// marlix --service: until SIGTERM or SIGINT, after the job being printed.
int runService(marlix::Registry& store, marlix::SingleInstance& instance, QTextStream& err) {
    marlix::EndSignals ending;
    marlix::Service service(store, err, marlix::loopbackCapture());
    QObject::connect(&ending, &marlix::EndSignals::ending, &service, &marlix::Service::stop);
    QObject::connect(&service, &marlix::Service::stopped, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    try {
        service.start();
    } catch (const std::exception& e) {
        err << "marlix: " << QString::fromUtf8(e.what()) << '\n';
        return 1;
    }
    instance.setHandler([&service](const QByteArray& request) -> QByteArray {
        if (!request.startsWith(kPrintRequest)) return "0\n"; // no window to show
        try {
            QByteArray out = "0\n";
            for (const QString& pdf :
                 service.printHandedOver(QString::fromUtf8(request.mid(kPrintRequest.size()))))
                out += pdf.toUtf8() + '\n';
            return out;
        } catch (const std::exception& e) {
            return QByteArray("1\n") + e.what() + '\n';
        }
    });
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char* argv[]) {
    using Mode = marlix::Invocation::Mode;
    QTextStream out(stdout);
    QTextStream err(stderr);
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    marlix::Invocation run;
    try {
        run = marlix::parseCommandLine(args);
    } catch (const marlix::UsageError& e) {
        err << "marlix: " << QString::fromUtf8(e.what()) << '\n'; // one line
        return marlix::kUsageExit;
    }
    if (run.mode == Mode::Help || run.mode == Mode::Version) {
        out << run.text;
        return 0;
    }
    if (!run.settings.isEmpty())
        qputenv("MARLIX_SETTINGS", QFileInfo(run.settings).absoluteFilePath().toLocal8Bit());
    // Only the resident program has windows; the rest runs on any server.
    if (run.mode != Mode::Resident && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    useOffscreenWithoutDisplay();
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Obre"));
    QApplication::setApplicationName(QStringLiteral("Marlix"));
    QApplication::setApplicationDisplayName(QStringLiteral("Marlix"));
    QApplication::setApplicationVersion(QStringLiteral(MARLIX_VERSION));

    if (run.mode == Mode::ListPrinters) return marlix::listPrinters(out);
    if (run.mode == Mode::Print && !run.handOver) return marlix::printJob(run, out, err);

    auto store = marlix::SettingsRegistry::openUserStore();
    QString title;
    try {
        title = storedTitle(*store);
    } catch (const std::exception& e) {
        err << QString::fromUtf8(e.what()) << '\n';
        return 1;
    }
    marlix::SingleInstance instance(title);
    if (!instance.listen()) {
        if (instance.errorString().isEmpty()) {
            if (run.mode == Mode::Service) {
                err << "marlix: Marlix is already running for this user.\n";
                return 1;
            }
            return handOver(title, run, out, err);
        }
        // Without the channel this copy still works; a later one may run beside it.
        err << instance.errorString() << '\n';
    }

    if (run.mode == Mode::Print) return marlix::printJob(run, out, err);
    if (run.mode == Mode::Service) return runService(*store, instance, err);

    // From here on the end of the session saves the settings.
    marlix::EndSignals ending;
    if (!run.file.isEmpty()) {
        err << "marlix: " << run.file << " is no file; starting the program.\n";
        err.flush();
    }
    QApplication::setQuitOnLastWindowClosed(false);
    marlix::TForm1 window(*store);
    window.setCaptureFactory(marlix::loopbackCapture());
    QObject::connect(&ending, &marlix::EndSignals::ending, &window,
                     [&window] { window.sessionEnds(); });
    if (!window.FormCreate()) return 1;
    instance.setHandler([&window](const QByteArray& request) { return answer(window, request); });
    return QApplication::exec();
}
