#include "app/CommandLine.h"

#include "app/PrintSession.h"
#include "app/Settings.h"
#include "platform/DataDir.h"
#include "platform/NativeName.h"
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

void writeName(QTextStream& out, const QString& name) {
    // A script reads the name to open the file: its bytes as they are.
    out.flush();
    if (QIODevice* device = out.device()) {
        device->write(toNativeName(name) + '\n');
        return;
    }
    out << displayName(name) << '\n';
}

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
    // Something that is there but no file (a FIFO, a device, a folder) would
    // hang the program or print what is no job.
    const FileKind kind = file.isEmpty() || file == QStringLiteral("-") ? FileKind::Missing
                                                                         : fileKind(file);
    if (kind == FileKind::Other)
        usage(QStringLiteral("%1 is not a regular file").arg(displayName(file)));
    if (file == QStringLiteral("-") || kind == FileKind::Regular) {
        run.mode = Invocation::Mode::Print;
        run.file = file;
        run.handOver = !printOptions && file != QStringLiteral("-");
        return run;
    }
    if (printOptions) {
        if (file.isEmpty()) usage(QStringLiteral("Nothing to print: give a FILE or -"));
        usage(QString::fromStdString(formatMessage(kCannotOpenFile, nativePath(file))));
    }
    run.file = file;
    return run;
}

namespace {

// A scheme of the store, letter case aside, or a built-in one.
bool schemeExists(Registry& store, const QString& name) {
    for (const char* builtIn : {kNoSequences, kEscP2Scheme})
        if (name.compare(QLatin1String(builtIn), Qt::CaseInsensitive) == 0) return true;
    const auto schemes = store.openKey(kSequencesKey, false);
    if (!schemes) return false;
    for (const std::string& scheme : schemes->subkeyNames())
        if (name.compare(QString::fromStdString(scheme), Qt::CaseInsensitive) == 0) return true;
    return false;
}

} // namespace

int printJob(const Invocation& run, QTextStream& out, QTextStream& err) {
    try {
        auto store = SettingsRegistry::openUserStore();
        PrintSession session(*store);
        session.onNotice = [&err](const QString& text) { err << text << '\n'; };
        // A first run creates the default schemes. A store that can't be
        // read or written is no reason not to print: say so and go on.
        if (const std::string problem = store->problem(); !problem.empty())
            err << QString::fromStdString(problem) << '\n';
        try {
            session.schemes().CheckSequencesRegistry();
        } catch (const Error& e) {
            if (store->problem().empty()) err << QString::fromStdString(oneLine(e.what())) << '\n';
        }
        auto key = store->openKey(kSettingsKey, false);
        Settings settings = readSettings(key.get(), session.engine());

        // The values of the options are checked before anything prints.
        if (!run.output.isEmpty()) settings.printer = kPdfPrinterName.toStdString();
        if (!run.printer.isEmpty()) {
            const QString printer = QtPrinter::findPrinter(run.printer);
            if (printer.isEmpty())
                usage(QStringLiteral("There is no printer '%1' (see --list-printers)")
                          .arg(run.printer));
            settings.printer = printer.toStdString();
        }
        if (!run.codePage.isEmpty()) {
            if (!QFileInfo(dataFile(run.codePage + QStringLiteral(".cp"))).isFile())
                usage(QStringLiteral("There is no code page '%1' in %2")
                          .arg(run.codePage, dataDirectory()));
            settings.codePage = run.codePage.toStdString();
        }
        if (!run.scheme.isEmpty()) {
            if (!schemeExists(*store, run.scheme))
                usage(QStringLiteral("There is no scheme '%1'").arg(run.scheme));
            session.schemes().forceScheme(run.scheme.toStdString());
        }
        std::unique_ptr<QTemporaryFile> standardInput;
        QString file = run.file;
        if (file == QStringLiteral("-")) {
            standardInput = readStandardInput();
            file = standardInput->fileName();
        } else if (fileKind(file) != FileKind::Regular) {
            err << QString::fromStdString(formatMessage(kCannotOpenFile, nativePath(file))) << '\n';
            return 1;
        }

        session.configure(settings);
        if (!run.output.isEmpty())
            session.printer().setPdfFile(absoluteName(run.output));
        const PrintSession::Outcome printed = session.print(file);
        // What printed before a job's own error is there all the same.
        for (const QString& pdf : printed.pdfs)
            writeName(out, pdf);
        if (printed.ok()) return 0;
        err << QString::fromStdString(oneLine(printed.message.toStdString())) << '\n';
        return 1;
    } catch (const UsageError& e) {
        err << "marlix: " << QString::fromUtf8(e.what()) << '\n';
        return kUsageExit;
    } catch (const std::exception& e) {
        err << QString::fromStdString(oneLine(e.what())) << '\n';
        return 1;
    }
}

int listPrinters(QTextStream& out) {
    auto store = SettingsRegistry::openUserStore();
    auto key = store->openKey(kSettingsKey, false);
    PrintSession session(*store);
    const QString current = currentPrinter(readSettings(key.get(), session.engine()));
    for (const QString& name : QtPrinter::printerNames())
        out << (name == current ? "* " : "  ") << name << '\n';
    return 0;
}

} // namespace marlix
