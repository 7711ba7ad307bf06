#include "app/ui/AppFont.h"

#include <QStringList>

namespace ristova::ui {

QFont WindowFont() {
    QFont font;
    font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体"), QStringLiteral("NSimSun"),
                      QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Noto Sans CJK SC"),
                      QStringLiteral("Droid Sans Fallback")});
    font.setPixelSize(12);
    font.setStyleHint(QFont::AnyStyle, QFont::PreferDefault);
    return font;
}

}  // namespace ristova::ui
