#include "app/PrintSession.h"

#include "charset/CodeSet.h"
#include "core/Errors.h"
#include "platform/DataDir.h"
#include "platform/NativeName.h"

#include <QCoreApplication>
#include <QStandardPaths>

namespace marlix {

namespace {
// How long a print may go without letting the program's events run.
constexpr int kKeepAliveMs = 40;
} // namespace

QString currentPrinter(const Settings& settings) {
    const QString found = QtPrinter::findPrinter(QString::fromStdString(settings.printer));
    return found.isEmpty() ? QtPrinter::defaultPrinterName() : found;
}

PrintSession::PrintSession(Registry& store) : engine_(printer_), schemes_(store) {
    engine_.sequences = &schemes_;
    engine_.codePageFile = codePageFile;
    engine_.UpdateProgress = [this](int frame) {
        if (onProgress) onProgress(frame);
    };
    engine_.KeepAlive = [this] {
        if (sinceAlive_.elapsed() < kKeepAliveMs) return;
        QCoreApplication::processEvents();
        sinceAlive_.restart();
    };
    schemes_.onNotice = [this](const std::string& text) {
        if (onNotice) onNotice(QString::fromStdString(text));
    };
}

void PrintSession::configure(const Settings& settings) {
    if (printing_) throw Error(std::string(kPrintingInProgress));
    // The system's printers are asked for only when the name is another one.
    if (QString::fromStdString(settings.printer) != printer_.name()) {
        const QString printer = currentPrinter(settings);
        if (printer != printer_.name()) printer_.selectPrinter(printer);
    }
    printer_.setPdfFolder(settings.pdfFolder.empty()
                              ? QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
                              : QString::fromStdString(settings.pdfFolder));
    // Without its code page nothing would print: say so instead of printing nothing.
    codeset(
        engine_.codePage,
        dataFile(QString::fromStdString(settings.codePage) + QStringLiteral(".cp")).toStdString());
    engine_.settings = settings.printSettings();
}

void PrintSession::stop(Result why) {
    if (!printing_) return;
    stopped_ = why;
    engine_.stop();
}

PrintSession::Outcome PrintSession::print(const QString& file, std::uint64_t from,
                                          std::uint64_t to) {
    if (printing_) throw Error(std::string(kPrintingInProgress));
    printing_ = true;
    stopped_ = Result::Printed;
    if (onPrinting) onPrinting(true);
    sinceAlive_.start();
    Outcome out;
    const int pagesBefore = printer_.pageCount();
    auto failed = [&](Result result, const char* message) {
        printer_.abandonJob();
        out.result = result;
        out.message = QString::fromUtf8(message);
        if (onProgress) onProgress(kProgressDone);
    };
    printer_.beginJob();
    try {
        out.end = engine_.PrintOut(nativePath(absoluteName(file)), from, to);
        out.pdfs = printer_.commitJob();
    } catch (const JobError& e) {
        // What printed before the job's own error stays printed.
        out.result = Result::JobFailed;
        out.message = QString::fromUtf8(e.what());
        try {
            out.pdfs = printer_.commitJob();
        } catch (const std::exception& commit) {
            failed(Result::Failed, commit.what());
        }
    } catch (const PrintStopped& e) {
        failed(stopped_, e.what());
    } catch (const std::exception& e) {
        failed(Result::Failed, e.what());
    }
    out.pages = printer_.pageCount() - pagesBefore;
    printing_ = false;
    if (onPrinting) onPrinting(false);
    return out;
}

} // namespace marlix
