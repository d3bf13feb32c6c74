#include "app/CommandLine.h"

#include "app/SettingNames.h"
#include "app/StoredSettings.h"
#include "charset/CodeSet.h"
#include "core/Errors.h"
#include "engine/PrintEngine.h"
#include "platform/DataDir.h"
#include "platform/QtPrinter.h"
#include "platform/SettingsRegistry.h"
#include "schemes/SchemeStore.h"

#include <QFileInfo>

namespace marlix {

namespace {

// The stored printer when it is installed, else the system's default.
QString currentPrinter(const PrinterChoice& choice) {
    QString found = QtPrinter::findPrinter(QString::fromStdString(choice.printer));
    return found.isEmpty() ? QtPrinter::defaultPrinterName() : found;
}

} // namespace

int printFileAndExit(const QString& file, QTextStream& out, QTextStream& err) {
    if (!QFileInfo(file).isFile()) {
        err << QString::fromStdString(formatMessage(kCannotOpenFile, file.toStdString())) << '\n';
        return 1;
    }
    try {
        auto store = SettingsRegistry::openUserStore();
        // A first run creates the default schemes. A store that can't be
        // written is no reason not to print: say so and go on.
        SchemeStore schemes(*store);
        try {
            schemes.CheckSequencesRegistry();
        } catch (const Error& e) {
            err << QString::fromUtf8(e.what()) << '\n';
        }
        auto key = store->openKey(kSettingsKey, false);
        const PrinterChoice choice = readPrinterChoice(key.get());

        QtPrinter printer(currentPrinter(choice));
        if (!choice.pdfFolder.empty())
            printer.setPdfFolder(QString::fromStdString(choice.pdfFolder));
        PrintEngine engine(printer);
        // Without its code page nothing would print: say so instead of printing nothing.
        const QString codePage = QString::fromStdString(readCodePage(key.get()));
        codeset(engine.codePage, dataFile(codePage + QStringLiteral(".cp")).toStdString());
        engine.settings = readPrintSettings(key.get(), engine);
        engine.sequences = &schemes;
        engine.checksize();
        engine.PrintOut(file.toStdString());
        for (const QString& pdf : printer.writtenFiles())
            out << pdf << '\n';
        return 0;
    } catch (const std::exception& e) {
        err << QString::fromUtf8(e.what()) << '\n';
        return 1;
    }
}

int listPrinters(QTextStream& out) {
    auto store = SettingsRegistry::openUserStore();
    auto key = store->openKey(kSettingsKey, false);
    const QString current = currentPrinter(readPrinterChoice(key.get()));
    for (const QString& name : QtPrinter::printerNames())
        out << (name == current ? "* " : "  ") << name << '\n';
    return 0;
}

} // namespace marlix
