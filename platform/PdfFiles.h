// Names for the files "Print to PDF" writes. A document is written under
// NAME.pdf.part and takes NAME.pdf only when it is whole, so whoever watches
// the folder never opens half a PDF. Both names are taken exclusively: two
// prints into one folder, of this program or another, never share a file,
// and a name that is taken gives way to the next free one.
#pragma once

#include <QString>
#include <cstdio>

namespace marlix::pdffiles {

struct Reserved {
    QString part;              // where the document is written
    QString final;             // the name it is meant to get
    std::FILE* file = nullptr; // the part file, open for writing
    // A name in a folder is "<base>.pdf" or "<base> (number).pdf"; without
    // a base it is a name the user gave, which replaces what is there.
    QString folder;
    QString base;
    int number = 1;
};

// "<base>.pdf" in the folder, or "<base> (n).pdf" from n = first on where
// that is taken (first 1 starts with the plain name). Fails with IoError
// "Cannot create file" and the folder's or file's name.
Reserved inFolder(const QString& folder, const QString& base, int first = 1);
// Exactly the file the user named; only the part file's name gives way.
Reserved exactly(const QString& file);

// Gives the whole part file its final name and returns the name it got: a
// folder's name taken meanwhile moves it on to the next free one. Fails with
// IoError, the part file removed.
QString commit(const Reserved& reserved);

} // namespace marlix::pdffiles
