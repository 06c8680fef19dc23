#pragma once

// Private to ui/: Qt's own texts in the program's language.

#include <QString>

namespace UiLib {

// Gives the application Qt's own texts (the folder picker, standard buttons, edit menus) in Chinese:
// installs the "qtbase" translation for zh_CN from `folder`, Qt's translations folder when empty,
// parented to the application. Returns whether it was found; without it Qt's texts stay English and
// nothing else changes. Call on the UI thread once the application exists.
bool InstallQtTranslations(const QString& folder = QString());

} // namespace UiLib
