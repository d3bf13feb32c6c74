// Program entry.
#include "app/CommandLine.h"

#include <QApplication>
#include <QStringList>
#include <cstdio>

namespace {

// Printing from the command line must work on a server without a display.
void useOffscreenWithoutDisplay() {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
}

} // namespace

int main(int argc, char* argv[]) {
    useOffscreenWithoutDisplay();
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Obre"));
    QApplication::setApplicationName(QStringLiteral("Marlix"));

    QTextStream out(stdout);
    QTextStream err(stderr);
    const QStringList args = QApplication::arguments();
    if (args.size() >= 2 && args[1] == QStringLiteral("--list-printers"))
        return marlix::listPrinters(out);
    if (args.size() >= 2) return marlix::printFileAndExit(args[1], out, err);
    err << "Usage: marlix FILE        print a DOS job file and exit\n"
           "       marlix --list-printers\n";
    return 2;
}
