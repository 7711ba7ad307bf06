// Rules that the pixel tests of the button do not reach: bevel geometry,
// the styles the pages do not use, layout, accelerator and tab centring.
#include "widgets/TransBtnRules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "widgets/PageTabRules.h"

namespace ristova::widgets {
namespace {

// Rows of letters: F face, S shadow, H highlight, D dark shadow, B black, '.' untouched.
std::vector<std::string> Raster(const std::vector<FrameRun>& runs, int w, int h) {
    std::vector<std::string> rows(static_cast<size_t>(h), std::string(static_cast<size_t>(w), '.'));
    for (const FrameRun& r : runs)
        for (int y = r.y1; y <= r.y2; ++y)
            for (int x = r.x1; x <= r.x2; ++x)
                rows[static_cast<size_t>(y)][static_cast<size_t>(x)] =
                    "FSHDB"[static_cast<int>(r.colour)];
    return rows;
}

using Rows = std::vector<std::string>;

TEST(BevelTest, CornersTakeTheBottomColourAndTheRectStaysShrunk) {
    BtnRect rect{0, 0, 6, 5};
    auto runs = Bevel(rect, ColourRole::Highlight, ColourRole::Black, 1);
    EXPECT_EQ(rect, (BtnRect{1, 1, 5, 4}));
    const auto inner = Bevel(rect, ColourRole::Face, ColourRole::Shadow, 1);
    runs.insert(runs.end(), inner.begin(), inner.end());
    EXPECT_EQ(Raster(runs, 6, 5), (Rows{"HHHHHB", "HFFFSB", "HF..SB", "HSSSSB", "BBBBBB"}));

    // A huge BorderWidth draws only the rings that fit, but shrinks all the way.
    BtnRect small{0, 0, 4, 4};
    EXPECT_EQ(Bevel(small, ColourRole::Shadow, ColourRole::Highlight, 1000000).size(), 8u);
    EXPECT_EQ(small, (BtnRect{1000000, 1000000, 4 - 1000000, 4 - 1000000}));
}

TEST(FramePlanTest, IndentAndOnePixelStyles) {
    BtnState s;
    s.frameStyle = fsIndent;
    s.transparent = false;
    s.pressedLook = true;
    s.showPressed = false;  // base frame only: face, shadow outline, highlight ring
    EXPECT_EQ(Raster(ExecuteFramePlan(FramePlan(s, 5, 5)), 5, 5),
              (Rows{"SSSS.", "SHHHH", "SHFSH", "SHSSH", ".HHHH"}));
    s = {};
    s.borderWidth = 3;
    s.frameStyle = fsDark;
    EXPECT_EQ(Raster(ExecuteFramePlan(FramePlan(s, 3, 3)), 3, 3), (Rows{"FFD", "F.D", "DDD"}));
    s.frameStyle = fsMono;
    s.pressedLook = true;
    EXPECT_EQ(Raster(ExecuteFramePlan(FramePlan(s, 3, 3)), 3, 3), (Rows{"DDH", "D.H", "HHH"}));
}

TEST(LayoutTest, CaptionAndGlyphPlacesFollowTheAlignment) {
    const int w = 60, h = 40, tw = 20, th = 12, sp = 3;
    auto at = [&](TTextAlign a) {
        return CaptionOffset(a, w, h, tw, th, GlyphRect(a, w, h, 0, 0, 1, sp), sp);
    };
    // Without a glyph: above it is 2 x Spacing + th from the bottom edge.
    EXPECT_EQ(at(ttaTop), (BtnPoint{20, h - th - 2 * sp}));
    EXPECT_EQ(at(ttaBottom), (BtnPoint{20, 2 * sp}));
    EXPECT_EQ(at(ttaLeft), (BtnPoint{sp, 14}));
    EXPECT_EQ(at(ttaRight), (BtnPoint{w - tw - sp, 14}));
    EXPECT_EQ(at(ttaBottomRight), (BtnPoint{w - tw - sp, 2 * sp}));
    // A 3-cell 48 x 16 strip: cells of 16, opposite the caption.
    EXPECT_EQ(GlyphRect(ttaLeft, 60, 41, 48, 16, 3, 2), (BtnRect{42, 12, 58, 28}));
    EXPECT_EQ(GlyphRect(ttaTopRight, 61, 40, 48, 16, 3, 2), (BtnRect{22, 22, 38, 38}));
    // More cells than pixels: the cell is the whole strip.
    EXPECT_EQ(GlyphRect(ttaCenter, 40, 40, 3, 16, 4, 2), (BtnRect{18, 12, 21, 28}));
}

TEST(GlyphRulesTest, PressedCellOnlyWithThreeOrFourCells) {
    BtnState s;
    s.frameStyle = fsRegular;
    s.pressedLook = true;
    s.numGlyphs = 4;
    EXPECT_EQ(ImageIndex(s), 2);
    s.numGlyphs = 2;
    EXPECT_EQ(ImageIndex(s), 0);
}

TEST(AcceleratorTest, CharacterAfterTheFirstSingleAmpersand) {
    EXPECT_EQ(AcceleratorChar("Save && &quit"), "q");
    EXPECT_EQ(AcceleratorChar("a&&b"), "");
    EXPECT_EQ(AcceleratorChar("end&"), "");
    EXPECT_EQ(AcceleratorChar("开始&运行"), "运");
}

TEST(PageTabRulesTest, CaptionCentredWithTruncatingDivision) {
    EXPECT_EQ(TabCaptionOrigin({10, 2, 91, 22}, 40, 13, true), (BtnPoint{30, 5}));
    EXPECT_EQ(TabCaptionOrigin({10, 2, 91, 22}, 40, 13, false), (BtnPoint{30, 7}));
    // Wider than the tab: (0 + 10 - 15) / 2 truncates to -2, not -3.
    EXPECT_EQ(TabCaptionOrigin({0, 0, 10, 20}, 15, 13, true), (BtnPoint{-2, 3}));
}

}  // namespace
}  // namespace ristova::widgets
