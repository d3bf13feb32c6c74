#include "app/CommandLine.h"

#include "app/SettingNames.h"
#include "app/StoredSettings.h"
#include "charset/CodeSet.h"
#include "engine/PrintEngine.h"
#include "platform/DataDir.h"
#include "platform/QtPrinter.h"
#include "platform/SettingsRegistry.h"
#include "schemes/SchemeStore.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <cstdio>

namespace marlix {

namespace {

[[noreturn]] void usage(const QString& message) {
    throw UsageError(message.toStdString());
}

// Standard input as a job file: the engine reads a file it can measure.
std::unique_ptr<QTemporaryFile> readStandardInput() {
    auto file = std::make_unique<QTemporaryFile>();
    if (!file->open()) throw Error("Cannot create a file for standard input");
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly)) throw Error("Cannot read standard input");
    for (QByteArray chunk; !(chunk = in.read(1 << 16)).isEmpty();)
        if (file->write(chunk) != chunk.size()) throw Error("Cannot write standard input's job");
    file->flush();
    return file;
}

} // namespace

Invocation parseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Prints what DOS programs print: the job file or the capture port, or FILE.\n"
        "Without FILE the resident program starts in the notification area."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    const QCommandLineOption list(QStringLiteral("list-printers"),
                                  QStringLiteral("List the printers; * marks the current one."));
    const QCommandLineOption output(
        {QStringLiteral("o"), QStringLiteral("output")},
        QStringLiteral("Print to exactly this PDF file, whatever the stored printer. A job "
                       "that changes orientation adds \"NAME (2).pdf\" beside it."),
        QStringLiteral("FILE.pdf"));
    const QCommandLineOption printer({QStringLiteral("P"), QStringLiteral("printer")},
                                     QStringLiteral("Print on this printer."),
                                     QStringLiteral("NAME"));
    const QCommandLineOption codePage(QStringLiteral("code-page"),
                                      QStringLiteral("Read the job in this code page (866, "
                                                     "437, ...)."),
                                      QStringLiteral("NAME"));
    const QCommandLineOption scheme(QStringLiteral("scheme"),
                                    QStringLiteral("Interpret the job's escape sequences with "
                                                   "this scheme, the built-in \"Epson "
                                                   "ESC/P2\", or \"No sequences\"."),
                                    QStringLiteral("NAME"));
    const QCommandLineOption settings(QStringLiteral("settings"),
                                      QStringLiteral("Use this settings file (as "
                                                     "MARLIX_SETTINGS does)."),
                                      QStringLiteral("FILE"));
    const QCommandLineOption service(
        QStringLiteral("service"),
        QStringLiteral("Run the job file monitor and the capture port without window or "
                       "tray, one line per job on stderr, until SIGTERM or SIGINT."));
    parser.addOptions({help, version, list, output, printer, codePage, scheme, settings, service});
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("A job to print and exit; - reads it from "
                                                "standard input."),
                                 QStringLiteral("[FILE]"));
    if (!parser.parse(arguments)) usage(parser.errorText());

    Invocation run;
    run.settings = parser.value(settings);
    run.output = parser.value(output);
    run.printer = parser.value(printer);
    run.codePage = parser.value(codePage);
    run.scheme = parser.value(scheme);
    if (parser.isSet(help)) {
        run.mode = Invocation::Mode::Help;
        // Parsed before the application exists, which would name the program.
        run.text = parser.helpText().replace(QStringLiteral("<executable_name>"),
                                             QStringLiteral("marlix"));
        return run;
    }
    if (parser.isSet(version)) {
        run.mode = Invocation::Mode::Version;
        run.text = QStringLiteral("marlix " MARLIX_VERSION "\n");
        return run;
    }
    for (const auto* option : {&output, &printer, &codePage, &scheme, &settings})
        if (parser.isSet(*option) && parser.value(*option).isEmpty())
            usage(QStringLiteral("--%1 needs a value").arg(option->names().last()));
    const bool printOptions = parser.isSet(output) || parser.isSet(printer) ||
                              parser.isSet(codePage) || parser.isSet(scheme);
    if (parser.isSet(output) && parser.isSet(printer))
        usage(QStringLiteral("--output and --printer choose the printer both; give one"));
    const QStringList positional = parser.positionalArguments();
    // Further names are ignored, as they always were.
    const QString file = positional.value(0);

    if (parser.isSet(list)) {
        run.mode = Invocation::Mode::ListPrinters;
        return run;
    }
    if (parser.isSet(service)) {
        if (printOptions || !file.isEmpty())
            usage(QStringLiteral("--service takes no FILE and only --settings"));
        run.mode = Invocation::Mode::Service;
        return run;
    }
    if (file == QStringLiteral("-") || (!file.isEmpty() && QFileInfo(file).isFile())) {
        run.mode = Invocation::Mode::Print;
        run.file = file;
        run.handOver = !printOptions && file != QStringLiteral("-");
        return run;
    }
    if (printOptions) {
        if (file.isEmpty()) usage(QStringLiteral("Nothing to print: give a FILE or -"));
        usage(QString::fromStdString(formatMessage(kCannotOpenFile, file.toStdString())));
    }
    run.file = file;
    return run;
}

int printJob(const Invocation& run, QTextStream& out, QTextStream& err) {
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

        // The values of the options are checked before anything prints.
        QString printerName = currentPrinter(choice);
        if (!run.output.isEmpty()) printerName = kPdfPrinterName;
        if (!run.printer.isEmpty()) {
            printerName = QtPrinter::findPrinter(run.printer);
            if (printerName.isEmpty())
                usage(QStringLiteral("There is no printer '%1' (see --list-printers)")
                          .arg(run.printer));
        }
        const QString codePage =
            run.codePage.isEmpty() ? QString::fromStdString(readCodePage(key.get())) : run.codePage;
        const QString codePageFile = dataFile(codePage + QStringLiteral(".cp"));
        if (!run.codePage.isEmpty() && !QFileInfo(codePageFile).isFile())
            usage(QStringLiteral("There is no code page '%1' in %2")
                      .arg(run.codePage, dataDirectory()));
        if (!run.scheme.isEmpty()) {
            const std::string name = run.scheme.toStdString();
            if (name != kNoSequences && name != kEscP2Scheme &&
                !store->keyExists(SchemeStore::schemeKey(name)))
                usage(QStringLiteral("There is no scheme '%1'").arg(run.scheme));
            schemes.forceScheme(name);
        }
        std::unique_ptr<QTemporaryFile> standardInput;
        QString file = run.file;
        if (file == QStringLiteral("-")) {
            standardInput = readStandardInput();
            file = standardInput->fileName();
        } else if (!QFileInfo(file).isFile()) {
            err << QString::fromStdString(formatMessage(kCannotOpenFile, file.toStdString()))
                << '\n';
            return 1;
        }

        QtPrinter printer(printerName);
        if (!choice.pdfFolder.empty())
            printer.setPdfFolder(QString::fromStdString(choice.pdfFolder));
        if (!run.output.isEmpty()) printer.setPdfFile(QFileInfo(run.output).absoluteFilePath());
        PrintEngine engine(printer);
        // Without its code page nothing would print: say so instead of printing nothing.
        codeset(engine.codePage, codePageFile.toStdString());
        engine.settings = readPrintSettings(key.get(), engine);
        engine.sequences = &schemes;
        engine.codePageFile = marlix::codePageFile;
        engine.checksize();
        engine.PrintOut(file.toStdString());
        for (const QString& pdf : printer.writtenFiles())
            out << pdf << '\n';
        return 0;
    } catch (const UsageError& e) {
        err << "marlix: " << QString::fromUtf8(e.what()) << '\n';
        return kUsageExit;
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
