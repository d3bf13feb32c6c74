// Program entry: one resident copy (or service) per user. A later start
// hands over to the running copy (show yourself, or print this file) and
// ends; a first start with a job file prints it and ends; --service runs
// without window; otherwise the resident program starts.
#include "app/CommandLine.h"
#include "app/HandOver.h"
#include "app/Service.h"
#include "app/TForm1.h"
#include "capture/PrintMarker.h"
#include "core/Errors.h"
#include "platform/DataDir.h"
#include "platform/EndSignals.h"
#include "platform/NativeName.h"
#include "platform/SettingsRegistry.h"
#include "platform/SingleInstance.h"
#include "platform/TVxD.h"

#include <QApplication>
#include <QFileInfo>
#include <QStringList>
#include <QTextStream>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif
#include <functional>
#include <optional>

namespace {

// A show request is answered at once; a file once it printed, however long
// that takes, as long as the running copy says it is at it: a copy silent
// this long is given up.
constexpr int kShowWaitMs = 900;
constexpr int kPrintWaitMs = 10'000;

// The capture port serves thousands of senders at once, each a descriptor.
void allowManyConnections() {
#ifdef Q_OS_UNIX
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
#endif
}

// Printing from the command line must work on a server without a display.
void useOffscreenWithoutDisplay() {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
}

// The later start's side: prints what the running copy answered. nullopt:
// it runs with other settings, so this start prints by itself.
std::optional<int> handOver(const marlix::Invocation& run, const QString& settings,
                            QTextStream& out, QTextStream& err) {
    using marlix::handover::Answer;
    const bool print = run.mode == marlix::Invocation::Mode::Print;
    const auto reply = marlix::SingleInstance::send(
        {}, marlix::handover::request({print, settings, marlix::absoluteName(run.file)}),
        print ? kPrintWaitMs : kShowWaitMs);
    if (!print) return 0;
    if (!reply) {
        err << "The running copy of Marlix did not answer within " << kPrintWaitMs / 1000
            << " seconds.\n";
        return 1;
    }
    const Answer answer = marlix::handover::parseAnswer(*reply);
    if (answer.kind == Answer::Kind::OtherSettings) return std::nullopt;
    if (answer.kind == Answer::Kind::Failed) {
        err << answer.message << '\n';
        return 1;
    }
    for (const QString& pdf : answer.pdfs)
        marlix::writeName(out, pdf);
    return 0;
}

// marlix --service: until SIGTERM or SIGINT, after the job being printed.
int runService(marlix::Registry& store, const QString& settings, marlix::SingleInstance& instance,
               QTextStream& err) {
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
    instance.setHandler([&service, settings](const QByteArray& bytes) -> std::optional<QByteArray> {
        const auto r = marlix::handover::parseRequest(bytes);
        if (!r.print) return "0\n";                  // no window to show
        if (service.printing()) return std::nullopt; // its turn comes after this job
        return marlix::handover::answer(
            [&service](const QString& f) { return service.printHandedOver(f); }, r, settings);
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
        args << marlix::fromNativeName(argv[i]);
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
        qputenv("MARLIX_SETTINGS",
                marlix::toNativeName(QFileInfo(run.settings).absoluteFilePath()));
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
    const QString settings = store->fileName();
    marlix::SingleInstance instance;
    if (!instance.listen()) {
        if (instance.errorString().isEmpty()) {
            if (run.mode == Mode::Service) {
                err << "marlix: Marlix is already running for this user.\n";
                return 1;
            }
            if (const auto code = handOver(run, settings, out, err)) return *code;
            // The running copy has other settings: this one prints by itself.
            return marlix::printJob(run, out, err);
        }
        // Without the channel this copy still works; a later one may run beside it.
        err << instance.errorString() << '\n';
    }
    // A job that kills the program is set aside at the next start, not
    // printed again and again.
    marlix::PrintMarker::catchFaults();
    allowManyConnections();

    if (run.mode == Mode::Print) return marlix::printJob(run, out, err);
    if (run.mode == Mode::Service) return runService(*store, settings, instance, err);

    // From here on the end of the session saves the settings.
    marlix::EndSignals ending;
    if (!run.file.isEmpty()) {
        err << "marlix: " << marlix::displayName(run.file)
            << " is no file; starting the program.\n";
        err.flush();
    }
    QApplication::setQuitOnLastWindowClosed(false);
    marlix::TForm1 window(*store);
    window.setCaptureFactory(marlix::loopbackCapture());
    QObject::connect(&ending, &marlix::EndSignals::ending, &window,
                     [&window] { window.sessionEnds(); });
    if (!window.FormCreate()) return 1;
    instance.setHandler([&window, settings](const QByteArray& bytes) -> std::optional<QByteArray> {
        const auto r = marlix::handover::parseRequest(bytes);
        if (!r.print) {
            window.showRequest();
            return "0\n";
        }
        if (window.session().printing()) return std::nullopt; // its turn comes after this job
        return marlix::handover::answer(
            [&window](const QString& f) { return window.printHandedOver(f); }, r, settings);
    });
    return QApplication::exec();
}
