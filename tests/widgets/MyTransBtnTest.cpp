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

using test::Bounds;
using test::PixelsOf;
using test::RenderOnBehind;
using test::Shifted;

const QColor kFace(212, 208, 200);
const QColor kShadow(128, 128, 128);
const QColor kHighlight(255, 255, 255);
const QColor kDarkShadow(64, 64, 64);
const QColor kBlack(0, 0, 0);
const QColor kInk(200, 0, 0);

QColor At(const QImage& image, int x, int y) {
    return QColor(image.pixel(x, y));
}

void UseTestLook(TMyTransBtn& btn) {
    QPalette pal = btn.palette();
    pal.setColor(QPalette::Button, kFace);
    pal.setColor(QPalette::Dark, kShadow);
    pal.setColor(QPalette::Light, kHighlight);
    pal.setColor(QPalette::Shadow, kDarkShadow);
    btn.setPalette(pal);
    btn.setFont(test::CrispFont(12));
    btn.SetFontColor(kInk);
}

void SendMouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton button = Qt::LeftButton) {
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton
                                     : type == QEvent::MouseMove        ? Qt::LeftButton
                                                                        : button;
    QMouseEvent event(type, QPointF(pos), QPointF(w->mapToGlobal(pos)),
                      type == QEvent::MouseMove ? Qt::NoButton : button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &event);
}

void SendEnter(QWidget* w) {
    QEnterEvent event(QPointF(3, 3), QPointF(3, 3), QPointF(w->mapToGlobal(QPoint(3, 3))));
    QCoreApplication::sendEvent(w, &event);
}

void SendLeave(QWidget* w) {
    QEvent event(QEvent::Leave);
    QCoreApplication::sendEvent(w, &event);
}

struct Counts {
    int clicked = 0, up = 0, enter = 0, exit = 0;
    explicit Counts(TMyTransBtn& btn) {
        QObject::connect(&btn, &TMyTransBtn::clicked, [this] { ++clicked; });
        QObject::connect(&btn, &TMyTransBtn::mouseUp, [this] { ++up; });
        QObject::connect(&btn, &TMyTransBtn::mouseEnter, [this] { ++enter; });
        QObject::connect(&btn, &TMyTransBtn::mouseExit, [this] { ++exit; });
    }
};

// A strip of cells of size x size; cell i has a square of colours[i] on white.
QImage Strip(int size, const std::vector<QColor>& colours) {
    QImage image(size * static_cast<int>(colours.size()), size, QImage::Format_RGB32);
    image.fill(Qt::white);
    for (size_t i = 0; i < colours.size(); ++i)
        for (int y = 2; y < 4; ++y)
            for (int x = 2; x < 4; ++x)
                image.setPixelColor(static_cast<int>(i) * size + x, y, colours[i]);
    return image;
}

TEST(MyTransBtnTest, PageButtonRaisedThenSunkenWhilePressedInside) {
    std::unique_ptr<TMyTransBtn> btn(MakePageButton(QString(), nullptr, 40));
    ASSERT_EQ(btn->size(), QSize(40, 21));
    EXPECT_EQ(btn->FrameStyle(), fsRegular);
    EXPECT_EQ(btn->font().pixelSize(), 12);
    UseTestLook(*btn);
    Counts counts(*btn);

    QImage img = RenderOnBehind(btn.get());
    EXPECT_EQ(At(img, 0, 0), kHighlight);
    EXPECT_EQ(At(img, 39, 0), kBlack);  // top-right takes the bottom colour
    EXPECT_EQ(At(img, 0, 20), kBlack);
    EXPECT_EQ(At(img, 1, 1), kFace);
    EXPECT_EQ(At(img, 38, 1), kShadow);
    EXPECT_EQ(At(img, 1, 19), kShadow);
    EXPECT_EQ(At(img, 10, 10), test::kBehind);  // transparent inside

    SendMouse(btn.get(), QEvent::MouseButtonPress, {5, 5});
    img = RenderOnBehind(btn.get());
    EXPECT_EQ(At(img, 0, 0), kBlack);
    EXPECT_EQ(At(img, 39, 20), kHighlight);
    EXPECT_EQ(At(img, 1, 1), kShadow);
    EXPECT_EQ(At(img, 38, 19), kFace);
    EXPECT_EQ(At(img, 10, 10), test::kBehind);

    // Out of the button while holding: raised again; back in: pressed again.
    SendMouse(btn.get(), QEvent::MouseMove, {60, 30});
    EXPECT_EQ(At(RenderOnBehind(btn.get()), 0, 0), kHighlight);
    SendMouse(btn.get(), QEvent::MouseMove, {6, 6});
    EXPECT_EQ(At(RenderOnBehind(btn.get()), 0, 0), kBlack);
    SendMouse(btn.get(), QEvent::MouseMove, {60, 30});
    SendMouse(btn.get(), QEvent::MouseButtonRelease, {60, 30});
    EXPECT_EQ(counts.clicked, 0);
    EXPECT_EQ(counts.up, 1);
    EXPECT_FALSE(btn->PressedLook());

    SendMouse(btn.get(), QEvent::MouseButtonPress, {5, 5});
    SendMouse(btn.get(), QEvent::MouseButtonRelease, {7, 7});
    EXPECT_EQ(counts.clicked, 1);
    EXPECT_EQ(At(RenderOnBehind(btn.get()), 0, 0), kHighlight);

    // A right-button press and release is no click.
    SendMouse(btn.get(), QEvent::MouseButtonPress, {5, 5}, Qt::RightButton);
    SendMouse(btn.get(), QEvent::MouseButtonRelease, {5, 5}, Qt::RightButton);
    EXPECT_EQ(counts.clicked, 1);
}

TEST(MyTransBtnTest, CaptionMovesOnePixelOnlyWhenThePressedLookIsShown) {
    TMyTransBtn btn;
    UseTestLook(btn);
    btn.SetFrameStyle(fsRegular);
    btn.SetCaption("H");
    btn.resize(40, 21);
    const auto normal = PixelsOf(RenderOnBehind(&btn), kInk);
    ASSERT_FALSE(normal.empty());
    // Centred: the text box is width / 2 - tw / 2 from the left.
    const int tw = QFontMetrics(btn.font()).horizontalAdvance("H");
    EXPECT_GE(Bounds(normal).left(), 20 - tw / 2);
    EXPECT_LE(Bounds(normal).right(), 20 - tw / 2 + tw);

    SendMouse(&btn, QEvent::MouseButtonPress, {5, 5});
    EXPECT_EQ(PixelsOf(RenderOnBehind(&btn), kInk), Shifted(normal, 1, 1));
    SendMouse(&btn, QEvent::MouseButtonRelease, {5, 5});

    btn.SetShowPressed(false);
    SendMouse(&btn, QEvent::MouseButtonPress, {5, 5});
    const QImage img = RenderOnBehind(&btn);
    EXPECT_EQ(PixelsOf(img, kInk), normal);
    // Only the base frame: a black outline from (1, 1), nothing on row 0.
    EXPECT_EQ(At(img, 0, 0), test::kBehind);
    EXPECT_EQ(At(img, 39, 0), test::kBehind);
    EXPECT_EQ(At(img, 1, 1), kBlack);
    EXPECT_EQ(At(img, 39, 20), kBlack);
    EXPECT_EQ(At(img, 2, 2), test::kBehind);
}

TEST(MyTransBtnTest, ExplorerFrameOnlyWhileTheMouseIsInside) {
    TMyTransBtn btn;  // the defaults: fsExplorer, transparent, 40 x 40
    UseTestLook(btn);
    btn.SetCaption(QString());
    Counts counts(btn);
    auto frameVisible = [&] {
        const QImage img = RenderOnBehind(&btn);
        return PixelsOf(img, test::kBehind).size() != static_cast<size_t>(40 * 40);
    };
    EXPECT_FALSE(frameVisible());
    SendEnter(&btn);
    EXPECT_EQ(counts.enter, 1);
    const QImage img = RenderOnBehind(&btn);
    EXPECT_EQ(At(img, 0, 0), kHighlight);
    EXPECT_EQ(At(img, 39, 39), kShadow);
    EXPECT_EQ(At(img, 1, 1), test::kBehind);  // one ring only
    SendLeave(&btn);
    EXPECT_EQ(counts.exit, 1);
    EXPECT_FALSE(frameVisible());

    btn.setEnabled(false);
    SendEnter(&btn);
    EXPECT_EQ(counts.enter, 1);
    EXPECT_FALSE(frameVisible());
}

TEST(MyTransBtnTest, DisabledCaptionIsEngraved) {
    TMyTransBtn btn;
    UseTestLook(btn);
    btn.SetFrameStyle(fsNone);
    btn.SetCaption("H&K");
    btn.resize(60, 24);
    const auto ink = PixelsOf(RenderOnBehind(&btn), kInk);
    ASSERT_FALSE(ink.empty());
    btn.setEnabled(false);
    const QImage img = RenderOnBehind(&btn);
    EXPECT_TRUE(PixelsOf(img, kInk).empty());
    EXPECT_EQ(PixelsOf(img, kShadow), ink);
    std::set<std::pair<int, int>> light;
    for (const auto& p : Shifted(ink, 1, 1))
        if (!ink.count(p)) light.insert(p);
    EXPECT_EQ(PixelsOf(img, kHighlight), light);
}

TEST(MyTransBtnTest, DisabledGlyphOneCellEmbossedTwoCellsSecondCell) {
    TMyTransBtn btn;
    UseTestLook(btn);
    btn.SetFrameStyle(fsNone);
    btn.SetCaption(QString());
    btn.SetGlyph(Strip(8, {Qt::black}));
    btn.setEnabled(false);
    // 8 x 8 cell centred in 40 x 40: at (16, 16); the ink square is (2..3, 2..3).
    const QImage img = RenderOnBehind(&btn);
    const QRect cell(16, 16, 8, 8);
    EXPECT_EQ(PixelsOf(img, kShadow, cell),
              (std::set<std::pair<int, int>>{{18, 18}, {19, 18}, {18, 19}, {19, 19}}));
    EXPECT_EQ(PixelsOf(img, kHighlight, cell),
              (std::set<std::pair<int, int>>{{20, 19}, {19, 20}, {20, 20}}));
    // The face of the disabled image is its transparent colour.
    EXPECT_EQ(PixelsOf(img, test::kBehind, cell).size(), 64u - 7u);

    const QColor green(0, 160, 0), orange(250, 120, 0);
    btn.SetGlyph(Strip(8, {orange, green}));
    ASSERT_EQ(btn.NumGlyphs(), 2);
    const QImage two = RenderOnBehind(&btn);
    EXPECT_EQ(PixelsOf(two, green).size(), 4u);
    EXPECT_TRUE(PixelsOf(two, orange).empty());
    btn.setEnabled(true);
    btn.SetFrameStyle(fsRegular);
    EXPECT_EQ(PixelsOf(RenderOnBehind(&btn), orange).size(), 4u);
}

TEST(MyTransBtnTest, GlyphRatioSetsNumGlyphsAndRebuildsTheImages) {
    TMyTransBtn btn;
    btn.SetGlyph(QImage(64, 16, QImage::Format_RGB32));
    EXPECT_EQ(btn.NumGlyphs(), 4);
    EXPECT_EQ(btn.Images().size(), 6u);  // four cells, gray, disabled
    btn.SetGlyph(QImage(96, 16, QImage::Format_RGB32));
    EXPECT_EQ(btn.NumGlyphs(), 1);
    EXPECT_EQ(btn.Images().size(), 3u);
    EXPECT_EQ(btn.Images()[0].size(), QSize(96, 16));
    btn.SetNumGlyphs(3);
    EXPECT_EQ(btn.Images().size(), 3u);  // setting the count alone rebuilds nothing
    btn.SetGlyph(QImage(50, 16, QImage::Format_RGB32));
    EXPECT_EQ(btn.NumGlyphs(), 3);
    EXPECT_EQ(btn.Images().size(), 5u);
    EXPECT_EQ(btn.Images()[0].size(), QSize(16, 16));
    btn.SetGlyph(QImage(0, 16, QImage::Format_RGB32));
    EXPECT_EQ(btn.NumGlyphs(), 3);
    EXPECT_EQ(btn.Images().size(), 5u);
    btn.SetNumGlyphs(9);
    EXPECT_EQ(btn.NumGlyphs(), 4);
    RenderOnBehind(&btn);  // an empty glyph paints nothing and does not fail
}

TEST(MyTransBtnTest, ExplorerGlyphIsGrayUntilTheMouseEnters) {
    TMyTransBtn btn;
    UseTestLook(btn);
    btn.SetCaption(QString());
    const QColor colour(200, 100, 50);
    btn.SetGlyph(Strip(8, {colour}));
    // v = (11 r + 59 g + 30 b) div 100 = 96, not the usual 30/59/11 (124).
    EXPECT_EQ(PixelsOf(RenderOnBehind(&btn), QColor(96, 96, 96)).size(), 4u);
    SendEnter(&btn);
    const QImage inside = RenderOnBehind(&btn);
    EXPECT_EQ(PixelsOf(inside, colour).size(), 4u);
    EXPECT_EQ(At(inside, 16, 16), test::kBehind);  // white is the transparent colour
    btn.SetTransparent(false);
    EXPECT_EQ(At(RenderOnBehind(&btn), 16, 16), kFace);
}

TEST(MyTransBtnTest, DownStaysPressedAndStillClicks) {
    TMyTransBtn btn;
    UseTestLook(btn);
    btn.SetFrameStyle(fsRegular);
    btn.SetCaption(QString());
    Counts counts(btn);
    btn.SetDown(true);
    EXPECT_EQ(At(RenderOnBehind(&btn), 0, 0), kBlack);
    SendMouse(&btn, QEvent::MouseButtonPress, {5, 5});
    SendMouse(&btn, QEvent::MouseButtonRelease, {5, 5});
    EXPECT_EQ(counts.clicked, 1);
    EXPECT_EQ(counts.up, 0);
    EXPECT_TRUE(btn.PressedLook());
    EXPECT_EQ(At(RenderOnBehind(&btn), 0, 0), kBlack);
    btn.SetDown(false);
    EXPECT_EQ(At(RenderOnBehind(&btn), 0, 0), kHighlight);
}

TEST(MyTransBtnTest, DisablingClearsThePressAndMovableDrags) {
    QWidget parent;
    parent.resize(200, 200);
    auto* btn = new TMyTransBtn(&parent);
    btn->move(10, 10);
    Counts counts(*btn);
    SendMouse(btn, QEvent::MouseButtonPress, {5, 5});
    btn->setEnabled(false);
    EXPECT_FALSE(btn->PressedLook());
    btn->setEnabled(true);
    SendMouse(btn, QEvent::MouseButtonRelease, {5, 5});
    EXPECT_EQ(counts.up, 0);  // the press was forgotten
    EXPECT_EQ(counts.clicked, 0);

    SendMouse(btn, QEvent::MouseButtonPress, {5, 5});
    SendMouse(btn, QEvent::MouseMove, {15, 8});
    EXPECT_EQ(btn->pos(), QPoint(10, 10));
    SendMouse(btn, QEvent::MouseButtonRelease, {15, 8});
    btn->SetMovable(true);
    SendMouse(btn, QEvent::MouseButtonPress, {5, 5});
    SendMouse(btn, QEvent::MouseMove, {15, 8});
    EXPECT_EQ(btn->pos(), QPoint(20, 13));
    SendMouse(btn, QEvent::MouseButtonRelease, {5, 5});
}

TEST(MyTransBtnTest, PopUpMenuOpensBelowAndThePressEndsWhenItCloses) {
    QWidget window;
    window.setGeometry(50, 50, 300, 200);
    auto* btn = new TMyTransBtn(&window);
    btn->move(20, 20);
    Counts counts(*btn);
    auto menu = std::make_unique<QMenu>();
    menu->addAction("item");
    btn->SetPopUpMenu(menu.get());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    bool shown = false;
    bool pressedWhileOpen = false;
    QPoint shownAt;
    QTimer::singleShot(0, menu.get(), [&] {
        shown = menu->isVisible();
        shownAt = menu->pos();
        pressedWhileOpen = btn->PressedLook();
        menu->close();
    });
    SendMouse(btn, QEvent::MouseButtonPress, {5, 5});
    EXPECT_TRUE(shown);
    EXPECT_TRUE(pressedWhileOpen);
    EXPECT_EQ(shownAt, btn->mapToGlobal(QPoint(0, btn->height())));
    EXPECT_FALSE(btn->PressedLook());
    EXPECT_EQ(counts.up, 1);
    SendMouse(btn, QEvent::MouseButtonRelease, {5, 5});  // the menu took it
    EXPECT_EQ(counts.clicked, 0);
    EXPECT_EQ(counts.up, 1);

    menu.reset();
    EXPECT_EQ(btn->PopUpMenu(), nullptr);
    SendMouse(btn, QEvent::MouseButtonPress, {5, 5});
    SendMouse(btn, QEvent::MouseButtonRelease, {5, 5});
    EXPECT_EQ(counts.clicked, 1);
}

TEST(MyTransBtnTest, AcceleratorClicksAnEnabledButtonUnlessTheKeyIsTyped) {
    QWidget window;
    window.resize(300, 100);
    auto* run = new TMyTransBtn(&window);
    run->SetCaption("运行&R");
    auto* stop = new TMyTransBtn(&window);
    stop->SetCaption("&Stop");
    stop->setEnabled(false);
    auto* edit = new QLineEdit(&window);
    edit->move(100, 0);
    Counts runs(*run);
    Counts stops(*stop);
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_R);
    EXPECT_EQ(edit->text(), "r");
    EXPECT_EQ(runs.clicked, 0);
    QTest::keyClick(edit, Qt::Key_R, Qt::AltModifier);
    EXPECT_EQ(runs.clicked, 1);

    edit->clearFocus();
    ASSERT_EQ(QApplication::focusWidget(), nullptr);
    QTest::keyClick(&window, Qt::Key_R);
    QTest::keyClick(&window, Qt::Key_R, Qt::ShiftModifier);
    EXPECT_EQ(runs.clicked, 3);
    QTest::keyClick(&window, Qt::Key_S);
    QTest::keyClick(&window, Qt::Key_S, Qt::AltModifier);
    EXPECT_EQ(stops.clicked, 0);

    run->SetCaption("Run");  // no marker: the key is free again
    QTest::keyClick(&window, Qt::Key_R, Qt::AltModifier);
    EXPECT_EQ(runs.clicked, 3);
}

}  // namespace
}  // namespace ristova::widgets
