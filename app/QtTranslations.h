// Qt's own dialogs and buttons (file dialog, print dialog, Yes/No) in the
// language of the interface, where Qt's translations are installed.
#pragma once

#include <QString>

namespace marlix {

// languageName is the language file's name ("Russian", "English", or the
// language's own name, "Deutsch"); an unknown name leaves Qt's texts alone.
void installQtTranslations(const QString& languageName);

} // namespace marlix
