#include "platform/NativeName.h"

#include <QFileInfo>
#include <filesystem>
#include <system_error>

namespace marlix {

namespace {

constexpr char16_t kEscapeBase = 0xDC00; // + a byte from 0x80 to 0xFF

// The code point of the well-formed UTF-8 sequence at s[i], and its length;
// length 0 when there is none (a stray, overlong or truncated sequence, a
// surrogate, or beyond U+10FFFF).
std::pair<char32_t, int> decodeAt(const QByteArray& s, qsizetype i) {
    const auto byte = [&](qsizetype k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) return {lead, 1};
    int length = 0;
    char32_t c = 0, least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, c = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, c = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, c = lead & 0x07, least = 0x10000;
    } else {
        return {0, 0};
    }
    if (i + length > s.size()) return {0, 0};
    for (int k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return {0, 0};
        c = (c << 6) | (byte(i + k) & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return {0, 0};
    return {c, length};
}

bool isEscape(char16_t c) {
    return c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF;
}

} // namespace

QString fromNativeName(const QByteArray& bytes) {
    QString name;
    name.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size();) {
        const auto [c, length] = decodeAt(bytes, i);
        if (length == 0) {
            name += QChar(char16_t(kEscapeBase + static_cast<unsigned char>(bytes[i])));
            ++i;
            continue;
        }
        const char32_t one[] = {c};
        name += QString::fromUcs4(one, 1);
        i += length;
    }
    return name;
}

QByteArray toNativeName(const QString& name) {
    QByteArray bytes;
    bytes.reserve(name.size());
    qsizetype plain = 0; // start of the stretch not yet written
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        // A pair is a character of its own, and its low half no escape.
        if (QChar::isHighSurrogate(c) && i + 1 < name.size() &&
            QChar::isLowSurrogate(name[i + 1].unicode())) {
            ++i;
            continue;
        }
        if (!isEscape(c)) continue;
        bytes += QStringView(name).mid(plain, i - plain).toUtf8();
        bytes += char(c - kEscapeBase);
        plain = i + 1;
    }
    bytes += QStringView(name).mid(plain).toUtf8();
    return bytes;
}

QString absoluteName(const QString& name) {
#ifdef Q_OS_WIN
    return QFileInfo(name).absoluteFilePath(); // names there are UTF-16
#else
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(nativePath(name), ec);
    if (ec) return name;
    return fromNativeName(QByteArray::fromStdString(absolute.lexically_normal().string()));
#endif
}

FileKind fileKind(const QString& name) {
    std::error_code ec;
    const auto status = std::filesystem::status(nativePath(name), ec);
    if (ec || !std::filesystem::exists(status)) return FileKind::Missing;
    return std::filesystem::is_regular_file(status) ? FileKind::Regular : FileKind::Other;
}

bool removeFile(const QString& name) {
    std::error_code ec;
    return std::filesystem::remove(nativePath(name), ec);
}

bool renameFile(const QString& from, const QString& to) {
    std::error_code ec;
    std::filesystem::rename(nativePath(from), nativePath(to), ec);
    return !ec;
}

QString displayName(const QString& name) {
    QString shown = name;
    for (QChar& c : shown)
        if (isEscape(c.unicode())) c = QChar::ReplacementCharacter;
    return shown;
}

} // namespace marlix
