#include "ui/private/QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <memory>

#include "platform/Trace.h"

namespace UiLib {

bool InstallQtTranslations(const QString& folder)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr)
        return false;
    const QString from = folder.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : folder;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                          QStringLiteral("_"), from)) {
        platform::TraceF("ui: no Chinese translation of Qt's texts in %s; they stay English",
                         from.toLocal8Bit().constData());
        return false;
    }
    translator->setParent(app); // the application owns it from here
    QCoreApplication::installTranslator(translator.release());
    return true;
}

} // namespace UiLib
