// Program entry: one resident copy per user. A later start hands over to the
// running copy (show yourself, or print this file) and ends; a first start
// with a job file prints it and ends; otherwise the resident program starts.
#include "app/CommandLine.h"
#include "app/LanguageFile.h"
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
int handOver(const QString& title, const QStringList& args, QTextStream& out, QTextStream& err) {
    const bool print = args.size() >= 2 && QFileInfo(args[1]).isFile();
    const QByteArray request =
        print ? kPrintRequest + QFileInfo(args[1]).absoluteFilePath().toUtf8() : kShowRequest;
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

} // namespace

int main(int argc, char* argv[]) {
    useOffscreenWithoutDisplay();
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Obre"));
    QApplication::setApplicationName(QStringLiteral("Marlix"));
    QApplication::setApplicationDisplayName(QStringLiteral("Marlix"));

    QTextStream out(stdout);
    QTextStream err(stderr);
    const QStringList args = QApplication::arguments();
    if (args.size() >= 2 && args[1] == QStringLiteral("--list-printers"))
        return marlix::listPrinters(out);

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
        if (instance.errorString().isEmpty()) return handOver(title, args, out, err);
        // Without the channel this copy still works; a later one may run beside it.
        err << instance.errorString() << '\n';
    }

    if (args.size() >= 2 && QFileInfo(args[1]).isFile())
        return marlix::printFileAndExit(args[1], out, err);

    // From here on the end of the session saves the settings.
    marlix::EndSignals ending;
    if (args.size() >= 2) {
        err << "marlix: " << args[1] << " is no file; starting the program.\n";
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
