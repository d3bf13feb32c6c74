#include "platform/DataDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace marlix {

QString dataDirectory() {
    static const QString dir = [] {
        const QString env = qEnvironmentVariable("MARLIX_DATA");
        if (!env.isEmpty()) return QDir(env).absolutePath();
        const QDir exe(QCoreApplication::applicationDirPath());
        const QString installed = exe.absoluteFilePath(QStringLiteral("../share/marlix"));
        if (QFileInfo(installed).isDir()) return QDir(installed).absolutePath();
        return exe.absoluteFilePath(QStringLiteral("data"));
    }();
    return dir;
}

QString dataFile(const QString& name) {
    return QDir(dataDirectory()).filePath(name);
}

std::string codePageFile(const std::string& name) {
    return dataFile(QString::fromStdString(name) + QStringLiteral(".cp")).toStdString();
}

QStringList dataFileNames(const QString& pattern) {
    QStringList names;
    const auto files = QDir(dataDirectory()).entryList({pattern}, QDir::Files, QDir::Unsorted);
    for (const QString& f : files)
        names << f.section(QLatin1Char('.'), 0, 0);
    return names;
}

} // namespace marlix
