#include "widgets/ui/MyTransBtn.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEnterEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QTimer>
#include <QtTest/QTest>
#include <memory>

#include "QtTestEnv.h"

namespace ristova::widgets {
namespace {

using test::kBehind;
using test::PixelsOf;
using test::Shifted;

const QColor kFace(212, 208, 200), kShadow(128, 128, 128), kHighlight(255, 255, 255);
const QColor kBlack(0, 0, 0), kInk(200, 0, 0);

// A button with distinct system colours and one-colour text.
class Btn : public TMyTransBtn {
  public:
    explicit Btn(TFrameStyle style, const QString& caption = QString(), QWidget* parent = nullptr)
        : TMyTransBtn(parent) {
        QPalette pal = palette();
        pal.setColor(QPalette::Button, kFace);
        pal.setColor(QPalette::Dark, kShadow);
        pal.setColor(QPalette::Light, kHighlight);
        pal.setColor(QPalette::Shadow, QColor(64, 64, 64));
        setPalette(pal);
        setFont(test::CrispFont(12));
        SetFontColor(kInk);
        SetFrameStyle(style);
        SetCaption(caption);
        connect(this, &TMyTransBtn::clicked, [this] { ++clicks; });
        connect(this, &TMyTransBtn::mouseUp, [this] { ++ups; });
    }
    QImage Image() { return test::RenderOnBehind(this); }
    QColor Pixel(int x, int y) { return QColor(Image().pixel(x, y)); }
    void Mouse(QEvent::Type type, QPoint pos, Qt::MouseButton button = Qt::LeftButton) {
        const bool move = type == QEvent::MouseMove;
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton
                                      : move                             ? Qt::LeftButton
                                                                         : button;
        QMouseEvent event(type, QPointF(pos), QPointF(mapToGlobal(pos)),
                          move ? Qt::NoButton : button, held, Qt::NoModifier);
        QCoreApplication::sendEvent(this, &event);
    }
    void ClickAt(QPoint pos) {
        Mouse(QEvent::MouseButtonPress, pos);
        Mouse(QEvent::MouseButtonRelease, pos);
    }
    void Enter() {
        QEnterEvent event(QPointF(3, 3), QPointF(3, 3), QPointF(mapToGlobal(QPoint(3, 3))));
        QCoreApplication::sendEvent(this, &event);
    }
    void Leave() {
        QEvent event(QEvent::Leave);
        QCoreApplication::sendEvent(this, &event);
    }
    int clicks = 0, ups = 0;
};

// A strip of size x size cells; cell i has a 2 x 2 square of colours[i] at (2, 2) on white.
QImage Strip(int size, const std::vector<QColor>& colours) {
    QImage image(size * static_cast<int>(colours.size()), size, QImage::Format_RGB32);
    image.fill(Qt::white);
    for (size_t i = 0; i < colours.size(); ++i)
        for (int y = 2; y < 4; ++y)
            for (int x = 2; x < 4; ++x)
                image.setPixelColor(static_cast<int>(i) * size + x, y, colours[i]);
    return image;
}

TEST(MyTransBtnTest, PageButtonIsRaisedAndSunkenOnlyWhilePressedInside) {
    std::unique_ptr<TMyTransBtn> made(MakePageButton("开始运行", nullptr, 75));
    EXPECT_EQ(made->size(), QSize(75, 21));
    EXPECT_EQ(made->FrameStyle(), fsRegular);
    EXPECT_EQ(made->font().pixelSize(), 12);

    Btn btn(fsRegular);
    btn.resize(40, 21);
    QImage img = btn.Image();
    EXPECT_EQ(QColor(img.pixel(0, 0)), kHighlight);
    EXPECT_EQ(QColor(img.pixel(39, 0)), kBlack);  // top-right takes the bottom colour
    EXPECT_EQ(QColor(img.pixel(1, 1)), kFace);
    EXPECT_EQ(QColor(img.pixel(1, 19)), kShadow);
    EXPECT_EQ(QColor(img.pixel(10, 10)), kBehind);  // transparent inside

    btn.Mouse(QEvent::MouseButtonPress, {5, 5});
    img = btn.Image();
    EXPECT_EQ(QColor(img.pixel(0, 0)), kBlack);
    EXPECT_EQ(QColor(img.pixel(39, 20)), kHighlight);
    EXPECT_EQ(QColor(img.pixel(1, 1)), kShadow);
    EXPECT_EQ(QColor(img.pixel(38, 19)), kFace);

    // Dragged out: raised; back in: sunken; released outside: no click.
    btn.Mouse(QEvent::MouseMove, {60, 30});
    EXPECT_EQ(btn.Pixel(0, 0), kHighlight);
    btn.Mouse(QEvent::MouseMove, {6, 6});
    EXPECT_EQ(btn.Pixel(0, 0), kBlack);
    btn.Mouse(QEvent::MouseMove, {60, 30});
    btn.Mouse(QEvent::MouseButtonRelease, {60, 30});
    EXPECT_EQ(btn.clicks, 0);
    EXPECT_EQ(btn.ups, 1);
    btn.ClickAt({7, 7});
    EXPECT_EQ(btn.clicks, 1);
    EXPECT_EQ(btn.Pixel(0, 0), kHighlight);
}

TEST(MyTransBtnTest, ContentsShiftOnlyWhenThePressedLookIsShown) {
    Btn btn(fsRegular, "H");
    btn.resize(40, 21);
    const auto normal = PixelsOf(btn.Image(), kInk);
    ASSERT_FALSE(normal.empty());
    btn.Mouse(QEvent::MouseButtonPress, {5, 5});
    EXPECT_EQ(PixelsOf(btn.Image(), kInk), Shifted(normal, 1, 1));
    btn.Mouse(QEvent::MouseButtonRelease, {5, 5});

    btn.SetShowPressed(false);
    btn.Mouse(QEvent::MouseButtonPress, {5, 5});
    const QImage img = btn.Image();
    EXPECT_EQ(PixelsOf(img, kInk), normal);
    // Only the base frame: a black outline from (1, 1), row 0 untouched.
    EXPECT_EQ(QColor(img.pixel(0, 0)), kBehind);
    EXPECT_EQ(QColor(img.pixel(1, 1)), kBlack);
    EXPECT_EQ(QColor(img.pixel(39, 20)), kBlack);
    EXPECT_EQ(QColor(img.pixel(2, 2)), kBehind);
}

TEST(MyTransBtnTest, ExplorerFrameOnlyWhileTheMouseIsInside) {
    Btn btn(fsExplorer);
    int enters = 0, exits = 0;
    QObject::connect(&btn, &TMyTransBtn::mouseEnter, [&] { ++enters; });
    QObject::connect(&btn, &TMyTransBtn::mouseExit, [&] { ++exits; });
    const size_t all = 40 * 40;
    EXPECT_EQ(PixelsOf(btn.Image(), kBehind).size(), all);
    btn.Enter();
    const QImage img = btn.Image();
    EXPECT_EQ(QColor(img.pixel(0, 0)), kHighlight);
    EXPECT_EQ(QColor(img.pixel(39, 39)), kShadow);
    EXPECT_EQ(QColor(img.pixel(1, 1)), kBehind);
    btn.Leave();
    EXPECT_EQ(PixelsOf(btn.Image(), kBehind).size(), all);
    btn.setEnabled(false);
    btn.Enter();
    EXPECT_EQ(PixelsOf(btn.Image(), kBehind).size(), all);
    EXPECT_EQ(std::make_pair(enters, exits), std::make_pair(1, 1));
}

TEST(MyTransBtnTest, DisabledLookEngravesTheCaptionAndEmbossesTheGlyph) {
    Btn btn(fsNone, "H&K");
    btn.resize(60, 24);
    const auto ink = PixelsOf(btn.Image(), kInk);
    ASSERT_FALSE(ink.empty());
    btn.setEnabled(false);
    QImage img = btn.Image();
    EXPECT_EQ(PixelsOf(img, kShadow), ink);
    std::set<std::pair<int, int>> light;
    for (const auto& p : Shifted(ink, 1, 1))
        if (!ink.count(p)) light.insert(p);
    EXPECT_EQ(PixelsOf(img, kHighlight), light);

    // One cell: 8 x 8 centred in 60 x 24 at (26, 8); the ink square is (2..3, 2..3).
    btn.SetCaption(QString());
    btn.SetGlyph(Strip(8, {Qt::black}));
    img = btn.Image();
    EXPECT_EQ(PixelsOf(img, kShadow),
              (std::set<std::pair<int, int>>{{28, 10}, {29, 10}, {28, 11}, {29, 11}}));
    EXPECT_EQ(PixelsOf(img, kHighlight),
              (std::set<std::pair<int, int>>{{30, 11}, {29, 12}, {30, 12}}));
    EXPECT_EQ(PixelsOf(img, kBehind).size(), 60u * 24u - 7u);  // the face is transparent

    const QColor orange(250, 120, 0), green(0, 160, 0);
    btn.SetGlyph(Strip(8, {orange, green}));
    EXPECT_EQ(PixelsOf(btn.Image(), green).size(), 4u);
    btn.setEnabled(true);
    EXPECT_EQ(PixelsOf(btn.Image(), orange).size(), 4u);
}

TEST(MyTransBtnTest, GlyphRatioSetsNumGlyphsAndRebuildsTheImages) {
    TMyTransBtn btn;
    btn.SetGlyph(QImage(64, 16, QImage::Format_RGB32));
    EXPECT_EQ(btn.NumGlyphs(), 4);
    EXPECT_EQ(btn.Images().size(), 6u);  // four cells, gray, disabled
    btn.SetGlyph(QImage(96, 16, QImage::Format_RGB32));
    EXPECT_EQ(btn.NumGlyphs(), 1);
    btn.SetNumGlyphs(3);
    EXPECT_EQ(btn.Images().size(), 3u);  // the count alone rebuilds nothing
    btn.SetGlyph(QImage(50, 16, QImage::Format_RGB32));
    EXPECT_EQ(btn.NumGlyphs(), 3);
    EXPECT_EQ(btn.Images()[0].size(), QSize(16, 16));
    // Zero width would mean zero cells and a division by zero: unchanged.
    btn.SetGlyph(QImage(0, 16, QImage::Format_RGB32));
    EXPECT_EQ(btn.NumGlyphs(), 3);
    test::RenderOnBehind(&btn);
}

TEST(MyTransBtnTest, ExplorerGlyphIsGrayUntilTheMouseEnters) {
    Btn btn(fsExplorer);
    const QColor colour(200, 100, 50);
    btn.SetGlyph(Strip(8, {colour}));
    // (11 r + 59 g + 30 b) div 100 = 96, not the usual 30/59/11 (124).
    EXPECT_EQ(PixelsOf(btn.Image(), QColor(96, 96, 96)).size(), 4u);
    btn.Enter();
    EXPECT_EQ(PixelsOf(btn.Image(), colour).size(), 4u);
    EXPECT_EQ(btn.Pixel(16, 16), kBehind);  // white is the transparent colour
    btn.SetTransparent(false);
    EXPECT_EQ(btn.Pixel(16, 16), kFace);
}

TEST(MyTransBtnTest, DownStaysPressedAndStillClicks) {
    Btn btn(fsRegular);
    btn.SetDown(true);
    EXPECT_EQ(btn.Pixel(0, 0), kBlack);
    btn.ClickAt({5, 5});
    EXPECT_EQ(btn.clicks, 1);
    EXPECT_EQ(btn.ups, 0);
    EXPECT_EQ(btn.Pixel(0, 0), kBlack);
    btn.SetDown(false);
    EXPECT_EQ(btn.Pixel(0, 0), kHighlight);
}

TEST(MyTransBtnTest, DisablingForgetsThePressAndMovableDrags) {
    QWidget parent;
    auto* btn = new Btn(fsRegular, QString(), &parent);
    btn->move(10, 10);
    btn->Mouse(QEvent::MouseButtonPress, {5, 5});
    btn->setEnabled(false);
    EXPECT_FALSE(btn->PressedLook());
    btn->setEnabled(true);
    btn->Mouse(QEvent::MouseButtonRelease, {5, 5});
    EXPECT_EQ(btn->ups, 0);

    btn->SetMovable(true);
    btn->Mouse(QEvent::MouseButtonPress, {5, 5});
    btn->Mouse(QEvent::MouseMove, {15, 8});
    EXPECT_EQ(btn->pos(), QPoint(20, 13));
}

TEST(MyTransBtnTest, PopUpMenuOpensBelowAndThePressEndsWhenItCloses) {
    QWidget window;
    window.setGeometry(50, 50, 300, 200);
    auto* btn = new Btn(fsRegular, QString(), &window);
    btn->move(20, 20);
    auto menu = std::make_unique<QMenu>();
    menu->addAction("item");
    btn->SetPopUpMenu(menu.get());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QPoint shownAt;
    bool pressedWhileOpen = false;
    QTimer::singleShot(0, menu.get(), [&] {
        shownAt = menu->isVisible() ? menu->pos() : QPoint(-1, -1);
        pressedWhileOpen = btn->PressedLook();
        menu->close();
    });
    btn->Mouse(QEvent::MouseButtonPress, {5, 5});
    EXPECT_EQ(shownAt, btn->mapToGlobal(QPoint(0, btn->height())));
    EXPECT_TRUE(pressedWhileOpen);
    EXPECT_FALSE(btn->PressedLook());
    btn->Mouse(QEvent::MouseButtonRelease, {5, 5});  // the menu had it
    EXPECT_EQ(btn->clicks, 0);
    EXPECT_EQ(btn->ups, 1);
    menu.reset();
    EXPECT_EQ(btn->PopUpMenu(), nullptr);
}

TEST(MyTransBtnTest, AcceleratorClicksAnEnabledButtonUnlessTheKeyIsTyped) {
    QWidget window;
    auto* run = new Btn(fsRegular, "运行&R", &window);
    auto* stop = new Btn(fsRegular, "&Stop", &window);
    stop->setEnabled(false);
    auto* edit = new QLineEdit(&window);
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_R);
    EXPECT_EQ(edit->text(), "r");
    EXPECT_EQ(run->clicks, 0);
    QTest::keyClick(edit, Qt::Key_R, Qt::AltModifier);
    EXPECT_EQ(run->clicks, 1);

    edit->clearFocus();
    QTest::keyClick(&window, Qt::Key_R);
    QTest::keyClick(&window, Qt::Key_R, Qt::ShiftModifier);
    EXPECT_EQ(run->clicks, 3);
    QTest::keyClick(&window, Qt::Key_S);
    QTest::keyClick(&window, Qt::Key_S, Qt::AltModifier);
    EXPECT_EQ(stop->clicks, 0);
    run->SetCaption("Run");  // no marker, no key
    QTest::keyClick(&window, Qt::Key_R, Qt::AltModifier);
    EXPECT_EQ(run->clicks, 3);
}

}  // namespace
}  // namespace ristova::widgets
