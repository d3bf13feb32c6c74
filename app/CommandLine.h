// The command line: marlix [OPTIONS] [FILE]. Printing a file this way needs
// no window and no display.
#pragma once

#include "core/Errors.h"

#include <QString>
#include <QStringList>
#include <QTextStream>

namespace marlix {

// A bad option or value: the process ends with code 2.
class UsageError : public Error {
public:
    using Error::Error;
};
inline constexpr int kUsageExit = 2;

struct Invocation {
    enum class Mode { Resident, Print, Service, ListPrinters, Help, Version };
    Mode mode = Mode::Resident;
    // Print: the job, "-" for standard input. Resident: a name that is no
    // file (said on stderr), or empty.
    QString file;
    // Options of this run only; nothing of them is saved.
    QString output;   // print to exactly this PDF file
    QString printer;  // an installed printer
    QString codePage; // a code page file's name, without ".cp"
    QString scheme;   // a scheme of the store, or "No sequences"
    QString settings; // another settings file
    // A plain "marlix FILE": a running copy prints it. With options, or from
    // standard input, this process prints it itself.
    bool handOver = false;
    QString text; // Help and Version: what to print
};

// Fails with UsageError and a one-line message.
Invocation parseCommandLine(const QStringList& arguments);

// Prints the job with the stored settings and what the options change;
// writes the path of every PDF it made to out and errors to err. Returns the
// process exit code: 0, 1 for a job that failed, 2 for a value that is wrong.
int printJob(const Invocation& invocation, QTextStream& out, QTextStream& err);

// A file's name and a new line; on a stream to a file or terminal the name's
// own bytes, even where they are not UTF-8.
void writeName(QTextStream& out, const QString& name);

// The printer names, the current one marked with "*".
int listPrinters(QTextStream& out);

} // namespace marlix
