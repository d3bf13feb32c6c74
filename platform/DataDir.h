// The one folder the program's data files come from: code pages, language
// files and the ASCII chart table.
#pragma once

#include <QString>
#include <QStringList>

namespace marlix {

// MARLIX_DATA if set, else the installed share folder, else data/ beside the
// executable (a build tree). Resolved once.
QString dataDirectory();

// Full path of a data file.
QString dataFile(const QString& name);

// Names of the data files matching a pattern such as "*.cp", each up to its
// first ".", in the order the folder lists them.
QStringList dataFileNames(const QString& pattern);

} // namespace marlix
