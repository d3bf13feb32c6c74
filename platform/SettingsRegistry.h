// The settings store over QSettings: the registry key on Windows, an INI file
// elsewhere. The settings key is the root; its subkeys are groups.
#pragma once

#include "core/Registry.h"

#include <QSettings>
#include <QString>
#include <memory>

namespace marlix {

// An INI file is never written in place: QSettings works on a private copy,
// and every change replaces the file with a new one that was read back whole
// first. (QSettings' own atomic save still renames a half-written file into
// place when the disk fills up.)
class SettingsRegistry final : public Registry {
public:
    // The user's store, or the INI file that MARLIX_SETTINGS names.
    static std::unique_ptr<SettingsRegistry> openUserStore();
    // An INI file store, for tests and scripts.
    explicit SettingsRegistry(const QString& iniFile);
    explicit SettingsRegistry(std::shared_ptr<QSettings> settings);

    std::unique_ptr<RegistryKey> openKey(std::string_view path, bool create) override;
    bool keyExists(std::string_view path) const override;
    void deleteKey(std::string_view path) override;

    QString fileName() const;
    std::string problem() const override;

    struct Backing;

private:
    std::shared_ptr<Backing> backing_;
};

} // namespace marlix
