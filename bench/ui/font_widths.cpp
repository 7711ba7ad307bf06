// Widths at 12 pixels of the window's longest texts in each free CJK font
// that is installed, against the widths the column sizes were made for
// (a bitmap song face: 6 pixels for a Latin letter or digit, 12 for an
// ideograph). Prints one row per font: each text's width and its excess.
#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <cstdio>
#include <string>
#include <vector>

#include "app/ui/AppFont.h"

namespace {

// What the columns and panels were sized for.
int SongWidth(const QString& text) {
    int width = 0;
    for (const QChar c : text) width += c.unicode() < 0x2E80 ? 6 : 12;
    return width;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const std::vector<QString> texts = {
        QStringLiteral("02:21:08"),
        QStringLiteral(" 欢迎使用Quelmar电源控制管理程序"),
        QStringLiteral("FE 05 00 00 FF 00 98 35"),
        QStringLiteral("COM16 (/dev/ttyS15)"),
        QStringLiteral("常闭开关用途"),
        QStringLiteral("2012-02-16"),
    };
    const char* const labels[] = {"time", "welcome", "hex", "port", "heading", "date"};
    for (std::size_t i = 0; i < texts.size(); ++i)
        std::printf("%-8s %s\n", labels[i], texts[i].trimmed().toUtf8().constData());
    std::printf("%-26s", "font");
    for (const char* label : labels) std::printf(" %22s", label);
    std::printf("\n%-26s", "sized for");
    for (const QString& t : texts) std::printf(" %22d", SongWidth(t));
    std::printf("\n");

    std::vector<QString> families = {
        QStringLiteral("WenQuanYi Zen Hei Mono"), QStringLiteral("WenQuanYi Zen Hei"),
        QStringLiteral("WenQuanYi Micro Hei Mono"), QStringLiteral("WenQuanYi Micro Hei"),
        QStringLiteral("AR PL UMing CN"), QStringLiteral("Noto Sans Mono CJK SC"),
        QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Serif CJK SC"),
    };
    const QStringList installed = QFontDatabase::families();
    for (const QString& family : families) {
        if (!installed.contains(family)) {
            std::printf("%-26s not installed\n", family.toUtf8().constData());
            continue;
        }
        QFont font(family);
        font.setPixelSize(12);
        const QFontMetrics metrics(font);
        int worst = 0;
        std::printf("%-26s", family.toUtf8().constData());
        for (const QString& t : texts) {
            const int w = metrics.horizontalAdvance(t);
            worst = std::max(worst, w - SongWidth(t));
            std::printf(" %14d (%+4d px)", w, w - SongWidth(t));
        }
        std::printf("   worst %+d px, line height %d\n", worst, metrics.height());
    }
    const QFont window = ristova::ui::WindowFont();
    std::printf("the window's font resolves to: %s\n",
                QFontInfo(window).family().toUtf8().constData());
    return 0;
}
