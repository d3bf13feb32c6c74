// The two addresses behind the links of the main window: an international
// value, and a regional one for users whose locale is in Russia.
#pragma once

#include <QString>

namespace marlix::links {

struct Addresses {
    QString homePage;
    QString supportMail; // a mailto: link with its subject line
};

inline Addresses international() {
    return {QStringLiteral("https://marlix.example.org/"),
            QStringLiteral("mailto:support@marlix.example.org?subject=Marlix%20support")};
}

inline Addresses regional() {
    return {QStringLiteral("https://marlix.example.org/ru/"),
            QStringLiteral("mailto:support-ru@marlix.example.org?subject=Marlix%3A%20"
                           "%D0%BF%D0%BE%D0%B4%D0%B4%D0%B5%D1%80%D0%B6%D0%BA%D0%B0")};
}

// The addresses for a user whose locale's country has this English name.
inline Addresses forCountry(const QString& englishName) {
    return englishName.toLower() == QStringLiteral("russia") ? regional() : international();
}

} // namespace marlix::links
