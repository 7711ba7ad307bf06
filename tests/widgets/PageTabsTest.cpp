#include "widgets/ui/PageTabs.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPainter>
#include <QtTest/QTest>

#include "QtTestEnv.h"

namespace ristova::widgets {
namespace {

using test::Bounds;
using test::PixelsOf;

const QColor kRed(255, 0, 0);
const QColor kBlack(0, 0, 0);
const QColor kBackground(230, 240, 200);

struct Pages {
    TPageControl pc;
    explicit Pages(const QStringList& captions, int tabWidth = 0) {
        pc.setFont(test::CrispFont(12));
        QPalette pal = pc.palette();
        pal.setColor(QPalette::Window, kBackground);
        pc.setPalette(pal);
        for (const QString& c : captions) pc.addTab(new QLabel, c);
        pc.SetTabWidth(tabWidth);
        pc.resize(640, 200);
        pc.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&pc));
    }
    QImage Render() {
        QImage image(pc.size(), QImage::Format_RGB32);
        pc.render(&image);
        return image;
    }
    // Tab i in the control's coordinates.
    QRect Tab(int i) const {
        return pc.PageTabBar()->tabRect(i).translated(pc.PageTabBar()->pos());
    }
    // Where the caption box of tab i must be, by the centring rule.
    QRect ExpectedBox(int i, bool active) const {
        const QFontMetrics m(pc.PageTabBar()->font());
        const QString caption = pc.tabText(i);
        const int tw = m.horizontalAdvance(caption);
        const int th = m.height();
        const QRect r = Tab(i);
        const int x = (r.left() + r.left() + r.width() - tw) / 2;
        const int y = (r.top() + r.top() + r.height() - th) / 2 + (active ? 0 : 2);
        return {x, y, tw, th};
    }
    // The caption drawn alone at box's top-left in colour, for comparing ink.
    std::set<std::pair<int, int>> ReferenceInk(int i, const QRect& box, const QColor& colour) {
        QImage image(pc.size(), QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter p(&image);
        p.setFont(pc.PageTabBar()->font());
        p.setPen(colour);
        p.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, pc.tabText(i));
        p.end();
        return PixelsOf(image, colour);
    }
};

TEST(PageTabsTest, ActiveCaptionRedCentredOthersBlackTwoPixelsLower) {
    Pages pages({"电源控制监视和操作", "电源控制器设置", "电源控制计划编辑", "关于系统"});
    QImage before = pages.Render();
    EXPECT_TRUE(PixelsOf(before, kRed).empty());  // the style draws until switched over

    pages.pc.SetOwnerDraw(true);
    const QImage img = pages.Render();
    for (int i = 0; i < 4; ++i) {
        const bool active = i == 0;
        const QRect box = pages.ExpectedBox(i, active);
        const QColor colour = active ? kRed : kBlack;
        EXPECT_EQ(PixelsOf(img, colour, box), pages.ReferenceInk(i, box, colour)) << "tab " << i;
        // The active caption sits on its tab's face, as the face beside it;
        // the others on the control's background brush.
        const QColor under(img.pixel(box.topLeft()));
        if (active) {
            EXPECT_EQ(under, QColor(img.pixel(box.left() - 2, box.top()))) << "tab " << i;
            EXPECT_NE(under, kBackground) << "a box behind the active caption";
        } else {
            EXPECT_EQ(under, kBackground) << "tab " << i;
        }
    }
    EXPECT_EQ(Bounds(PixelsOf(img, kRed)),
              Bounds(pages.ReferenceInk(0, pages.ExpectedBox(0, true), kRed)));

    pages.pc.setCurrentIndex(2);
    const QImage after = pages.Render();
    EXPECT_EQ(PixelsOf(after, kRed), pages.ReferenceInk(2, pages.ExpectedBox(2, true), kRed));
    EXPECT_TRUE(PixelsOf(after, kRed, pages.Tab(0)).empty());
}

TEST(PageTabsTest, SameCaptionOnEqualTabsDiffersByTwoPixelsOnly) {
    Pages pages({"关于系统", "关于系统"}, 90);
    pages.pc.SetOwnerDraw(true);
    const QImage img = pages.Render();
    const auto red = PixelsOf(img, kRed, pages.Tab(0));
    const auto black = PixelsOf(img, kBlack, pages.Tab(1));
    ASSERT_FALSE(red.empty());
    const int dx = pages.Tab(1).left() - pages.Tab(0).left();
    EXPECT_EQ(test::Shifted(red, dx, 2), black);
}

TEST(PageTabsTest, CaptionWiderThanItsTabStaysCentredAndRunsOverBothEdges) {
    Pages pages({"甲", "乙", "这是一个很长很长的标题", "丙", "丁"}, 50);
    pages.pc.setCurrentIndex(2);
    pages.pc.SetOwnerDraw(true);
    const QImage img = pages.Render();
    const QRect tab = pages.Tab(2);
    const QRect box = pages.ExpectedBox(2, true);
    ASSERT_GT(box.width(), tab.width());
    const auto red = PixelsOf(img, kRed);
    EXPECT_EQ(red, pages.ReferenceInk(2, box, kRed));
    const QRect ink = Bounds(red);
    EXPECT_LT(ink.left(), tab.left());
    EXPECT_GT(ink.right(), tab.right());
    EXPECT_LE(std::abs((ink.left() + ink.right()) / 2 - tab.center().x()), 2);
    // Over the neighbours it covers them with the background.
    EXPECT_EQ(QColor(img.pixel(box.topLeft())), kBackground);
}

}  // namespace
}  // namespace ristova::widgets
