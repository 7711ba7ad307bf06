#include "QtTestEnv.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPainter>
#include <memory>

namespace ristova::widgets::test {

namespace {

class QtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }

  private:
    int argc_ = 1;
    char name_[16] = "widgets_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

QImage RenderOnBehind(QWidget* w) {
    QImage image(w->size(), QImage::Format_RGB32);
    image.fill(kBehind);
    w->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

std::set<std::pair<int, int>> PixelsOf(const QImage& image, const QColor& c, QRect area) {
    if (area.isNull()) area = image.rect();
    area &= image.rect();
    std::set<std::pair<int, int>> out;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) == (c.rgb() & 0xFFFFFF)) out.insert({x, y});
    return out;
}

QRect Bounds(const std::set<std::pair<int, int>>& pixels) {
    QRect r;
    for (const auto& [x, y] : pixels) r |= QRect(x, y, 1, 1);
    return r;
}

std::set<std::pair<int, int>> Shifted(const std::set<std::pair<int, int>>& pixels, int dx, int dy) {
    std::set<std::pair<int, int>> out;
    for (const auto& [x, y] : pixels) out.insert({x + dx, y + dy});
    return out;
}

QFont CrispFont(int pixelSize) {
    QFont font;
    font.setFamilies({QStringLiteral("WenQuanYi Zen Hei")});
    font.setPixelSize(pixelSize);
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

}  // namespace ristova::widgets::test
