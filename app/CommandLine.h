// Printing a file named on the command line, without the window.
#pragma once

#include <QString>
#include <QTextStream>

namespace marlix {

// Prints the file with the stored settings on the stored (or default) printer;
// writes the path of every PDF it made to out and errors to err. Returns the
// process exit code.
int printFileAndExit(const QString& file, QTextStream& out, QTextStream& err);

// The printer names, the current one marked with "*".
int listPrinters(QTextStream& out);

} // namespace marlix
