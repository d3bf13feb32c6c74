// File names as the system gives them. On Unix a name is bytes and need not
// be UTF-8: a DOS program writes its job as "ПРОБА.PRN" in code page 866 as
// readily as in UTF-8. Qt decodes such bytes into U+FFFD and cannot find the
// file again, so names from outside go through these two instead: every byte
// that is not UTF-8 is kept as a lone surrogate (U+DC80 to U+DCFF) and turned
// back into the same byte on the way out. A valid name comes and goes as
// plain UTF-8.
#pragma once

#include <QByteArray>
#include <QString>
#include <string>

namespace marlix {

QString fromNativeName(const QByteArray& bytes);
QByteArray toNativeName(const QString& name);

// The name as it goes to the system's calls: std::ifstream, open(), the
// engine's job file.
inline std::string nativePath(const QString& name) {
    return toNativeName(name).toStdString();
}

// QFileInfo::absoluteFilePath for names of any bytes (Qt's loses the bytes
// that are not UTF-8).
QString absoluteName(const QString& name);

// What the name is on disk, following links; Missing also when it can't be
// looked at.
enum class FileKind { Missing, Regular, Other };
FileKind fileKind(const QString& name);

// QFile::remove and QFile::rename for names of any bytes. rename replaces
// what is there.
bool removeFile(const QString& name);
bool renameFile(const QString& from, const QString& to);

// The name for people to read: bytes that are not UTF-8 show as U+FFFD.
QString displayName(const QString& name);

} // namespace marlix
