#include "platform/SettingsRegistry.h"

#include "core/Errors.h"

#include <QStringList>
#include <optional>
#include <utility>

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

class SettingsKey final : public RegistryKey {
public:
    SettingsKey(std::shared_ptr<QSettings> s, QString group)
        : s_(std::move(s)), prefix_(group.isEmpty() ? group : group + QLatin1Char('/')),
          group_(std::move(group)) {}
    ~SettingsKey() override { s_->sync(); }

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
        s_->setValue(key(name), qs(value));
        lastWritten_ = name;
    }
    void writeInteger(std::string_view name, std::int32_t value) override {
        s_->setValue(key(name), value);
        lastWritten_ = name;
    }
    void flush() override {
        s_->sync();
        if (s_->status() != QSettings::NoError)
            throw Error(formatMessage("Failed to set data for '%s'", lastWritten_));
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
    return std::make_unique<SettingsRegistry>(
        std::make_shared<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                    QStringLiteral("Obre"), QStringLiteral("Marlix")));
#endif
}

SettingsRegistry::SettingsRegistry(const QString& iniFile)
    : settings_(std::make_shared<QSettings>(iniFile, QSettings::IniFormat)) {
}

SettingsRegistry::SettingsRegistry(std::shared_ptr<QSettings> settings)
    : settings_(std::move(settings)) {
}

std::unique_ptr<RegistryKey> SettingsRegistry::openKey(std::string_view path, bool create) {
    const auto group = groupOf(path);
    if (!group) {
        if (create) throw Error(formatMessage("Failed to create key %s", path));
        return nullptr;
    }
    // A store file holds no empty keys: a created key appears with its first value.
    if (!create && !groupHasContent(*settings_, *group)) return nullptr;
    return std::make_unique<SettingsKey>(settings_, *group);
}

bool SettingsRegistry::keyExists(std::string_view path) const {
    const auto group = groupOf(path);
    return group && groupHasContent(*settings_, *group);
}

void SettingsRegistry::deleteKey(std::string_view path) {
    const auto group = groupOf(path);
    if (!group) return;
    if (group->isEmpty())
        settings_->clear();
    else
        settings_->remove(*group);
    settings_->sync();
}

} // namespace marlix
