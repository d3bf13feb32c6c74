// The one folder the program's data files come from: code pages, language
// files and the ASCII chart table.
#pragma once

#include <QString>
#include <QStringList>
#include <string>

namespace marlix {

// MARLIX_DATA if set, else the installed share folder, else data/ beside the
// executable (a build tree). Resolved once.
QString dataDirectory();

// Full path of a data file.
QString dataFile(const QString& name);

// The code page file of that name ("866"), as the print engine asks for it.
std::string codePageFile(const std::string& name);

// Names of the data files matching a pattern such as "*.cp", each up to its
// first ".", in the order the folder lists them.
QStringList dataFileNames(const QString& pattern);

} // namespace marlix
