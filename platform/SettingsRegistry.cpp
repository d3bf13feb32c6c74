#include "platform/SettingsRegistry.h"

#include "core/Errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryFile>
#include <filesystem>
#include <optional>
#include <utility>
#include <vector>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace marlix {

namespace {

QString qs(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// "\SOFTWARE\Obre\Marlix\Sequences\Default" -> "Sequences/Default"; paths
// outside the settings key have no place in this store.
std::optional<QString> groupOf(std::string_view path) {
    const QString p = qs(path);
    const QString root = qs(kSettingsKey);
    if (!p.startsWith(root, Qt::CaseInsensitive)) return std::nullopt;
    QString rest = p.mid(root.size());
    if (!rest.isEmpty() && !rest.startsWith(QLatin1Char('\\'))) return std::nullopt;
    rest.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (rest.startsWith(QLatin1Char('/')))
        rest.remove(0, 1);
    while (rest.endsWith(QLatin1Char('/')))
        rest.chop(1);
    return rest;
}

bool groupHasContent(QSettings& s, const QString& group) {
    if (!group.isEmpty()) s.beginGroup(group);
    const bool has = !s.childKeys().isEmpty() || !s.childGroups().isEmpty();
    if (!group.isEmpty()) s.endGroup();
    return has;
}

} // namespace

struct SettingsRegistry::Backing {
    std::shared_ptr<QSettings> settings;
    QString target;                          // the INI file; empty: a native store
    std::unique_ptr<QTemporaryFile> scratch; // what QSettings reads and writes
    // The changes since the last save, in order: a value (or, with no value,
    // the removal of a key or group; the empty key is all of them).
    std::vector<std::pair<QString, std::optional<QVariant>>> changes;
    // Why the file could not be read; then it is never written.
    QString unreadable;

    void set(const QString& key, const QVariant& value) {
        settings->setValue(key, value);
        changes.emplace_back(key, value);
    }
    void remove(const QString& key) {
        if (key.isEmpty())
            settings->clear();
        else
            settings->remove(key);
        changes.emplace_back(key, std::nullopt);
    }

    // Makes the changes durable. false: the file keeps its last good state.
    bool publish() {
        settings->sync();
        if (settings->status() != QSettings::NoError) return false;
        if (target.isEmpty() || changes.empty()) return true;
        if (!unreadable.isEmpty()) return false; // a file we could not read is not replaced

        // The changes go onto the file as it is now, so that what a user or
        // another program wrote since it was read survives.
        QTemporaryFile merged;
        if (!merged.open()) return false;
        QFile current(target);
        if (current.exists()) {
            if (!current.open(QIODevice::ReadOnly)) return false;
            merged.write(current.readAll());
            current.close();
        }
        merged.close();
        QSettings next(merged.fileName(), QSettings::IniFormat);
        if (next.status() != QSettings::NoError) return false;
        for (const auto& [key, value] : changes) {
            if (value)
                next.setValue(key, *value);
            else if (key.isEmpty())
                next.clear();
            else
                next.remove(key);
        }
        next.sync();
        // QSettings replaced the file: it is read by its name, not reopened.
        QFile written(merged.fileName());
        if (next.status() != QSettings::NoError || !written.open(QIODevice::ReadOnly)) return false;
        const QByteArray bytes = written.readAll();
        written.close();

        // Written beside the target, read back as a file of its own, then
        // moved over the target in one step.
        const QString dir = QFileInfo(target).absolutePath();
        if (!QDir().mkpath(dir)) return false;
        QTemporaryFile file(dir + QStringLiteral("/.marlix-settings-XXXXXX"));
        if (!file.open() || file.write(bytes) != bytes.size() || !file.flush()) return false;
#ifdef Q_OS_UNIX
        if (::fsync(file.handle()) != 0) return false;
#endif
        file.close();
        if (!readsBackAs(file.fileName(), next)) return false;
        std::error_code ec;
        std::filesystem::rename(file.fileName().toStdString(), target.toStdString(), ec);
        if (ec) return false;
        file.setAutoRemove(false);
        changes.clear();
        return true;
    }

    static bool readsBackAs(const QString& file, const QSettings& meant) {
        const QSettings written(file, QSettings::IniFormat);
        if (written.status() != QSettings::NoError) return false;
        const QStringList keys = meant.allKeys();
        if (written.allKeys().size() != keys.size()) return false;
        for (const QString& k : keys)
            if (written.value(k).toString() != meant.value(k).toString()) return false;
        return true;
    }
};

namespace {

class SettingsKey final : public RegistryKey {
public:
    SettingsKey(std::shared_ptr<SettingsRegistry::Backing> b, QString group)
        : b_(std::move(b)), s_(b_->settings),
          prefix_(group.isEmpty() ? group : group + QLatin1Char('/')), group_(std::move(group)) {}
    // Nothing to report to here: flush() is where a failed save shows.
    ~SettingsKey() override { b_->publish(); }

    bool hasValue(std::string_view name) const override { return s_->contains(key(name)); }

    std::optional<std::string> readString(std::string_view name) const override {
        const QVariant v = s_->value(key(name));
        // Lists and other types are not text values.
        if (v.typeId() != QMetaType::QString) return std::nullopt;
        return v.toString().toStdString();
    }

    std::optional<std::int32_t> readInteger(std::string_view name) const override {
        const QVariant v = s_->value(key(name));
        bool ok = false;
        qlonglong n = 0;
        switch (v.typeId()) {
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong: n = v.toLongLong(&ok); break;
        case QMetaType::QString:
            // An INI file keeps integers as text: only plain decimal counts.
            n = v.toString().toLongLong(&ok, 10);
            break;
        default: break;
        }
        if (!ok || n < INT32_MIN || n > INT32_MAX) return std::nullopt;
        return std::int32_t(n);
    }

    void writeString(std::string_view name, std::string_view value) override {
        b_->set(key(name), qs(value));
        lastWritten_ = name;
    }
    void writeInteger(std::string_view name, std::int32_t value) override {
        b_->set(key(name), value);
        lastWritten_ = name;
    }
    void flush() override {
        if (b_->publish()) return;
        throw Error(withReason(formatMessage("Failed to set data for '%s'", lastWritten_),
                               b_->unreadable.isEmpty()
                                   ? std::string()
                                   : "the settings file " + b_->target.toStdString() +
                                         " could not be read, so it is left as it is"));
    }

    std::vector<std::string> valueNames() const override { return list(false); }
    std::vector<std::string> subkeyNames() const override { return list(true); }

private:
    QString key(std::string_view name) const { return prefix_ + qs(name); }

    std::vector<std::string> list(bool groups) const {
        if (!group_.isEmpty()) s_->beginGroup(group_);
        const QStringList names = groups ? s_->childGroups() : s_->childKeys();
        if (!group_.isEmpty()) s_->endGroup();
        std::vector<std::string> out;
        for (const QString& n : names)
            out.push_back(n.toStdString());
        return out;
    }

    std::shared_ptr<SettingsRegistry::Backing> b_;
    std::shared_ptr<QSettings> s_;
    QString prefix_;
    QString group_;
    std::string lastWritten_;
};

} // namespace

std::unique_ptr<SettingsRegistry> SettingsRegistry::openUserStore() {
    const QString file = qEnvironmentVariable("MARLIX_SETTINGS");
    if (!file.isEmpty()) return std::make_unique<SettingsRegistry>(file);
#ifdef Q_OS_WIN
    return std::make_unique<SettingsRegistry>(std::make_shared<QSettings>(
        QStringLiteral("HKEY_CURRENT_USER\\SOFTWARE\\Obre\\Marlix"), QSettings::NativeFormat));
#else
    // Only the location of the user's file is asked of QSettings.
    const QString standard = QSettings(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("Obre"), QStringLiteral("Marlix"))
                                 .fileName();
    return std::make_unique<SettingsRegistry>(standard);
#endif
}

SettingsRegistry::SettingsRegistry(const QString& iniFile) : backing_(std::make_shared<Backing>()) {
    backing_->target = QFileInfo(iniFile).absoluteFilePath();
    backing_->scratch = std::make_unique<QTemporaryFile>();
    // QSettings reads the current file from the copy; a file that is there
    // but can't be read leaves the copy empty, and its first save is refused
    // rather than let it replace what could not be read.
    if (backing_->scratch->open()) {
        QFile current(backing_->target);
        if (current.open(QIODevice::ReadOnly))
            backing_->scratch->write(current.readAll());
        else if (current.exists())
            backing_->unreadable = current.errorString();
        backing_->scratch->close();
    }
    backing_->settings =
        std::make_shared<QSettings>(backing_->scratch->fileName(), QSettings::IniFormat);
    backing_->settings->allKeys();
    if (backing_->settings->status() == QSettings::FormatError) {
        // Not settings at all: nothing of it is believed, and it stays as it
        // is for the user to look at.
        backing_->unreadable = QStringLiteral("it is no settings file");
        backing_->scratch = std::make_unique<QTemporaryFile>();
        if (backing_->scratch->open()) backing_->scratch->close();
        backing_->settings =
            std::make_shared<QSettings>(backing_->scratch->fileName(), QSettings::IniFormat);
    }
}

std::string SettingsRegistry::problem() const {
    if (backing_->unreadable.isEmpty()) return {};
    return "The settings file " + backing_->target.toStdString() + " cannot be read (" +
           backing_->unreadable.toStdString() +
           "): the defaults are used, and the file is left as it is";
}

SettingsRegistry::SettingsRegistry(std::shared_ptr<QSettings> settings)
    : backing_(std::make_shared<Backing>()) {
    backing_->settings = std::move(settings);
}

QString SettingsRegistry::fileName() const {
    return backing_->target.isEmpty() ? backing_->settings->fileName() : backing_->target;
}

std::unique_ptr<RegistryKey> SettingsRegistry::openKey(std::string_view path, bool create) {
    const auto group = groupOf(path);
    if (!group) {
        if (create) throw Error(formatMessage("Failed to create key %s", path));
        return nullptr;
    }
    // A store file holds no empty keys: a created key appears with its first value.
    if (!create && !groupHasContent(*backing_->settings, *group)) return nullptr;
    return std::make_unique<SettingsKey>(backing_, *group);
}

bool SettingsRegistry::keyExists(std::string_view path) const {
    const auto group = groupOf(path);
    return group && groupHasContent(*backing_->settings, *group);
}

void SettingsRegistry::deleteKey(std::string_view path) {
    const auto group = groupOf(path);
    if (!group) return;
    backing_->remove(*group);
    backing_->publish();
}

} // namespace marlix
