#include "app/ui/AppFont.h"

#include <QStringList>

namespace ristova::ui {

QFont WindowFont() {
    QFont font;
    // Where SimSun is missing, WenQuanYi Zen Hei Mono keeps its grid: half
    // an em for each Latin letter and digit, a whole em for each ideograph,
    // so the texts fit the column widths made for SimSun (bench_font_widths
    // measures the candidates). AR PL UMing has the same widths and SimSun's
    // 12-pixel line, but its Latin strokes come out hair-thin and grey at
    // this size, so a red time reads pink; the proportional faces run wider
    // per time or hex text.
    font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体"), QStringLiteral("NSimSun"),
                      QStringLiteral("WenQuanYi Zen Hei Mono"), QStringLiteral("AR PL UMing CN"),
                      QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Noto Sans CJK SC"),
                      QStringLiteral("Droid Sans Fallback")});
    font.setPixelSize(12);
    font.setStyleHint(QFont::AnyStyle, QFont::PreferDefault);
    return font;
}

}  // namespace ristova::ui
