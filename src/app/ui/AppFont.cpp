#include "app/ui/AppFont.h"

#include <QDir>
#include <QFontDatabase>
#include <QSet>
#include <QSettings>
#include <QStringList>
#include <algorithm>

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

const char* const kFreeTypePlatform = "windows:fontengine=freetype";

bool WantsFreeType(const std::vector<std::string>& qtArgs, const char* platformVariable,
                   bool underWine) {
    if (!underWine) return false;
    // Qt takes an empty variable as none.
    if (platformVariable != nullptr && *platformVariable != '\0') return false;
    return std::none_of(qtArgs.begin(), qtArgs.end(), [](const std::string& arg) {
        return arg == "-platform" || arg == "--platform";
    });
}

void LoadFontCollections() {
    const QSettings registry(
        QStringLiteral(
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts"),
        QSettings::NativeFormat);
    QSet<QString> loaded;
    for (const QString& family : WindowFont().families()) {
        QString file = registry.value(family + QStringLiteral(" (TrueType)")).toString();
        if (QDir::isRelativePath(file))
            file = qEnvironmentVariable("windir") + QStringLiteral("\\Fonts\\") + file;
        if (!file.endsWith(QStringLiteral(".ttc"), Qt::CaseInsensitive) || loaded.contains(file))
            continue;
        loaded.insert(file);
        QFontDatabase::addApplicationFont(file);
    }
}

}  // namespace ristova::ui
