// The one way Marlix prints. The window, the service, the command line and a
// hand-over all print through a session: it owns the printer, the engine and
// the scheme store, is set up from the settings in one place, keeps the
// program responsive while a job prints, and says how the print went rather
// than raising it.
#pragma once

#include "app/Settings.h"
#include "capture/JobMonitor.h"
#include "core/Registry.h"
#include "engine/PrintEngine.h"
#include "platform/QtPrinter.h"
#include "schemes/SchemeStore.h"

#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <functional>

namespace marlix {

class PrintSession {
public:
    using Result = JobMonitor::Printed::Result;

    struct Outcome {
        Result result = Result::Printed;
        QString message;       // what went wrong; empty when all printed
        std::uint64_t end = 0; // where the printed bytes end in the file
        int pages = 0;
        QStringList pdfs; // the PDF files written
        bool ok() const { return result == Result::Printed; }
        static Outcome failed(const QString& message) {
            Outcome out;
            out.result = Result::Failed;
            out.message = message;
            return out;
        }
    };

    explicit PrintSession(Registry& store);
    PrintSession(const PrintSession&) = delete;
    PrintSession& operator=(const PrintSession&) = delete;

    // Sets up the printer, the PDF folder, the code page and the layout from
    // the settings. A printer that is not installed gives way to the
    // system's default. Fails when the code page cannot be read.
    void configure(const Settings& settings);

    // Prints the file, or its bytes from `from` to `to`. While it prints the
    // program's events run every few dozen milliseconds, so its window,
    // timers, sockets and signals go on; onPrinting has said so.
    Outcome print(const QString& file, std::uint64_t from = 0,
                  std::uint64_t to = ~std::uint64_t{0});
    bool printing() const { return printing_; }
    // The running print stops, nothing of it left: by the user's wish
    // (Cancelled) or because the program ends (Abandoned).
    void cancel() { stop(Result::Cancelled); }
    void abandon() { stop(Result::Abandoned); }

    QtPrinter& printer() { return printer_; }
    PrintEngine& engine() { return engine_; }
    SchemeStore& schemes() { return schemes_; }

    // Told when a print starts and ends: the monitor waits meanwhile, and a
    // window disables what must not change under a print.
    std::function<void(bool printing)> onPrinting;
    // Something to say once, such as a scheme that is not there.
    std::function<void(const QString& text)> onNotice;
    // The tray's progress picture: 0..15, kProgressDone at the end.
    std::function<void(int frame)> onProgress;

private:
    void stop(Result why);

    QtPrinter printer_;
    PrintEngine engine_;
    SchemeStore schemes_;
    QElapsedTimer sinceAlive_;
    bool printing_ = false;
    Result stopped_ = Result::Printed;
};

// The installed printer of the settings, else the system's default.
QString currentPrinter(const Settings& settings);

} // namespace marlix
