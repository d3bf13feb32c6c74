#include "app/QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace marlix {

namespace {

// The language a file's name stands for, by its English or its own name.
std::optional<QLocale> localeOf(const QString& name) {
    for (int l = QLocale::AnyLanguage + 1; l <= QLocale::LastLanguage; ++l) {
        const auto language = QLocale::Language(l);
        const QLocale locale(language);
        if (locale.language() != language) continue;
        if (QLocale::languageToString(language).compare(name, Qt::CaseInsensitive) == 0 ||
            locale.nativeLanguageName().compare(name, Qt::CaseInsensitive) == 0)
            return locale;
    }
    return std::nullopt;
}

} // namespace

void installQtTranslations(const QString& languageName) {
    static QTranslator* installed = nullptr;
    if (installed) {
        QCoreApplication::removeTranslator(installed);
        delete installed;
        installed = nullptr;
    }
    const auto locale = localeOf(languageName);
    if (!locale || locale->language() == QLocale::English) return;
    auto translator = std::make_unique<QTranslator>();
    if (translator->load(*locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        installed = translator.release();
        QCoreApplication::installTranslator(installed);
    }
}

} // namespace marlix
