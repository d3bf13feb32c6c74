#include "platform/PdfFiles.h"

#include "core/Errors.h"
#include "platform/NativeName.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#if defined(Q_OS_UNIX)
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace marlix::pdffiles {

namespace {

constexpr int kMostNames = 100000;

[[noreturn]] void cannotCreate(const QString& name, const std::string& reason) {
    throw IoError(
        withReason(formatMessage("Cannot create file %s", displayName(name).toStdString()), reason));
}

// The folder, made if it is not there. The message names the folder, not a
// file in it: file names carry the time, and a failure that stays must read
// the same at every try to be said once.
void makeFolder(const QString& folder) {
    std::error_code ec;
    std::filesystem::create_directories(nativePath(folder), ec);
    if (ec) cannotCreate(folder, ec.message());
}

// A new file of that name, or nothing with errno set (EEXIST: it is taken).
std::FILE* createNew(const QString& path) {
#if defined(Q_OS_UNIX)
    const int fd =
        ::open(toNativeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    std::FILE* f = ::fdopen(fd, "wb");
    if (!f) ::close(fd);
    return f;
#else
    return _wfopen(reinterpret_cast<const wchar_t*>(path.utf16()), L"wbx");
#endif
}

enum class Moved { Done, Taken, Failed };

// Moves the file to a name nobody has; never replaces one.
Moved moveToFreeName(const QString& from, const QString& to) {
#if defined(Q_OS_LINUX)
    const QByteArray f = toNativeName(from), t = toNativeName(to);
    if (::renameat2(AT_FDCWD, f.constData(), AT_FDCWD, t.constData(), RENAME_NOREPLACE) == 0)
        return Moved::Done;
    if (errno == EEXIST) return Moved::Taken;
    if (errno != EINVAL && errno != ENOSYS) return Moved::Failed;
    // A file system that cannot refuse in one step: a second link can.
    if (::link(f.constData(), t.constData()) == 0) {
        ::unlink(f.constData());
        return Moved::Done;
    }
    if (errno == EEXIST) return Moved::Taken;
#endif
    if (fileKind(to) != FileKind::Missing) return Moved::Taken;
    return renameFile(from, to) ? Moved::Done : Moved::Failed;
}

QString numbered(const QString& folder, const QString& base, int n) {
    const QDir dir(folder);
    return n <= 1 ? dir.filePath(base + QStringLiteral(".pdf"))
                  : dir.filePath(QStringLiteral("%1 (%2).pdf").arg(base).arg(n));
}

} // namespace

Reserved inFolder(const QString& folder, const QString& base, int first) {
    makeFolder(folder);
    for (int n = first; n < first + kMostNames; ++n) {
        Reserved r{{}, numbered(folder, base, n), nullptr, folder, base, n};
        if (fileKind(r.final) != FileKind::Missing) continue;
        r.part = r.final + QStringLiteral(".part");
        r.file = createNew(r.part);
        if (r.file) return r;
        if (errno != EEXIST) cannotCreate(r.final, std::strerror(errno));
    }
    cannotCreate(numbered(folder, base, first), "every name like it is taken");
}

Reserved exactly(const QString& file) {
    makeFolder(QFileInfo(file).absolutePath());
    for (int n = 1; n < kMostNames; ++n) {
        Reserved r;
        r.final = file;
        r.part =
            n == 1 ? file + QStringLiteral(".part") : QStringLiteral("%1.%2.part").arg(file).arg(n);
        r.file = createNew(r.part);
        if (r.file) return r;
        if (errno != EEXIST) cannotCreate(file, std::strerror(errno));
    }
    cannotCreate(file, "every part file name like it is taken");
}

QString commit(const Reserved& r) {
    if (r.base.isEmpty()) {
        // The user named this file: what was there before is replaced.
        std::error_code ec;
        std::filesystem::rename(nativePath(r.part), nativePath(r.final), ec);
        if (!ec) return r.final;
        std::error_code ignored;
        std::filesystem::remove(nativePath(r.part), ignored);
        cannotCreate(r.final, ec.message());
    }
    for (int n = r.number; n < r.number + kMostNames; ++n) {
        const QString name = numbered(r.folder, r.base, n);
        const Moved moved = moveToFreeName(r.part, name);
        if (moved == Moved::Done) return name;
        if (moved == Moved::Failed) break;
    }
    const std::string why = std::strerror(errno);
    removeFile(r.part);
    cannotCreate(r.final, why);
}

} // namespace marlix::pdffiles
