#include "app/ui/AppLocale.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace ristova::ui {

bool LoadQtChinese(QCoreApplication& app) {
    auto* translator = new QTranslator(&app);
    // qt_zh_CN pulls in qtbase_zh_CN and the other modules' files.
    if (!translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qt"),
                          QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

}  // namespace ristova::ui
