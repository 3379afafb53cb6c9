#include "app/ui/Language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace zorvane::ui::Language {

void install()
{
    static bool installed = false;
    if (installed || !QCoreApplication::instance()) return;
    installed = true;
    const QLocale spanish(QLocale::Spanish, QLocale::Spain);
    QLocale::setDefault(spanish);
    // Parented to the application: it lives as long as the texts it translates.
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (translator->load(spanish, QStringLiteral("qtbase"), QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(translator);
    } else {
        delete translator; // without the package the toolkit's few texts stay in English
    }
}

} // namespace zorvane::ui::Language
