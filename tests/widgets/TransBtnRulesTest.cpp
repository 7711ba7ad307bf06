#include "widgets/TransBtnRules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "widgets/PageTabRules.h"

namespace ristova::widgets {
namespace {

// Rasterises runs into rows of letters: F face, S shadow, H highlight,
// D dark shadow, B black, '.' untouched.
std::vector<std::string> Raster(const std::vector<FrameRun>& runs, int w, int h) {
    std::vector<std::string> rows(static_cast<size_t>(h), std::string(static_cast<size_t>(w), '.'));
    const char letters[] = {'F', 'S', 'H', 'D', 'B'};
    for (const FrameRun& r : runs)
        for (int y = r.y1; y <= r.y2; ++y)
            for (int x = r.x1; x <= r.x2; ++x)
                if (x >= 0 && y >= 0 && x < w && y < h)
                    rows[static_cast<size_t>(y)][static_cast<size_t>(x)] =
                        letters[static_cast<int>(r.colour)];
    return rows;
}

TEST(BevelTest, RingsTakeCornersInTheBottomColourAndLeaveTheRectShrunk) {
    BtnRect rect{0, 0, 6, 5};
    auto runs = Bevel(rect, ColourRole::Highlight, ColourRole::Black, 1);
    EXPECT_EQ(rect, (BtnRect{1, 1, 5, 4}));
    const auto inner = Bevel(rect, ColourRole::Face, ColourRole::Shadow, 1);
    runs.insert(runs.end(), inner.begin(), inner.end());
    EXPECT_EQ(Raster(runs, 6, 5), (std::vector<std::string>{
                                      "HHHHHB",
                                      "HFFFSB",
                                      "HF..SB",
                                      "HSSSSB",
                                      "BBBBBB",
                                  }));
}

TEST(BevelTest, ManyRingsStopAtTheCentreButStillShrink) {
    BtnRect rect{0, 0, 4, 4};
    const auto runs = Bevel(rect, ColourRole::Shadow, ColourRole::Highlight, 1000000);
    EXPECT_EQ(runs.size(), 8u);  // two rings fit in 4 x 4
    EXPECT_EQ(rect, (BtnRect{1000000, 1000000, 4 - 1000000, 4 - 1000000}));
}

TEST(FramePlanTest, RegularPressedIsSunkenAndWithoutShowPressedOnlyTheBaseFrame) {
    BtnState s;
    s.frameStyle = fsRegular;
    s.pressedLook = true;
    EXPECT_EQ(Raster(ExecuteFramePlan(FramePlan(s, 6, 5)), 6, 5), (std::vector<std::string>{
                                                                      "BBBBBH",
                                                                      "BSSSFH",
                                                                      "BS..FH",
                                                                      "BFFFFH",
                                                                      "HHHHHH",
                                                                  }));
    s.showPressed = false;
    EXPECT_EQ(Raster(ExecuteFramePlan(FramePlan(s, 6, 5)), 6, 5), (std::vector<std::string>{
                                                                      "......",
                                                                      ".BBBBB",
                                                                      ".B...B",
                                                                      ".B...B",
                                                                      ".BBBBB",
                                                                  }));
}

TEST(FramePlanTest, IndentOpaqueFillsAndOutlinesInShadowUnderTheHighlightRing) {
    BtnState s;
    s.frameStyle = fsIndent;
    s.transparent = false;
    s.pressedLook = true;
    s.showPressed = false;
    EXPECT_EQ(Raster(ExecuteFramePlan(FramePlan(s, 5, 5)), 5, 5), (std::vector<std::string>{
                                                                      "SSSS.",
                                                                      "SHHHH",
                                                                      "SHFSH",
                                                                      "SHSSH",
                                                                      ".HHHH",
                                                                  }));
}

TEST(FramePlanTest, ExplorerFrameDependsOnMouseInsideAndDown) {
    BtnState s;  // fsExplorer, transparent
    EXPECT_TRUE(ExecuteFramePlan(FramePlan(s, 8, 8)).empty());
    s.mouseInside = true;
    auto raster = Raster(ExecuteFramePlan(FramePlan(s, 3, 3)), 3, 3);
    EXPECT_EQ(raster, (std::vector<std::string>{"HHS", "H.S", "SSS"}));
    s.mouseInside = false;
    s.pressedLook = true;
    EXPECT_TRUE(ExecuteFramePlan(FramePlan(s, 8, 8)).empty());
    s.down = true;
    raster = Raster(ExecuteFramePlan(FramePlan(s, 3, 3)), 3, 3);
    EXPECT_EQ(raster, (std::vector<std::string>{"SSH", "S.H", "HHH"}));
    s.showPressed = false;
    raster = Raster(ExecuteFramePlan(FramePlan(s, 3, 3)), 3, 3);
    EXPECT_EQ(raster, (std::vector<std::string>{"HHS", "H.S", "SSS"}));
}

TEST(FramePlanTest, OnePixelStylesIgnoreBorderWidth) {
    BtnState s;
    s.borderWidth = 3;
    s.frameStyle = fsDark;
    EXPECT_EQ(Raster(ExecuteFramePlan(FramePlan(s, 3, 3)), 3, 3),
              (std::vector<std::string>{"FFD", "F.D", "DDD"}));
    s.frameStyle = fsMono;
    s.pressedLook = true;
    EXPECT_EQ(Raster(ExecuteFramePlan(FramePlan(s, 3, 3)), 3, 3),
              (std::vector<std::string>{"DDH", "D.H", "HHH"}));
    s.frameStyle = fsNone;
    s.transparent = false;
    EXPECT_EQ(Raster(ExecuteFramePlan(FramePlan(s, 3, 3)), 3, 3),
              (std::vector<std::string>{"FFF", "FFF", "FFF"}));
}

TEST(LayoutTest, CaptionWithoutGlyphFollowsTheAlignment) {
    const int w = 60, h = 40, tw = 20, th = 12, spacing = 3;
    auto at = [&](TTextAlign a) {
        const BtnRect g = GlyphRect(a, w, h, 0, 0, 1, spacing);
        return CaptionOffset(a, w, h, tw, th, g, spacing);
    };
    // Above the (empty) glyph: 2 x Spacing + th above the bottom edge.
    EXPECT_EQ(at(ttaTop), (BtnPoint{20, h - th - 2 * spacing}));
    EXPECT_EQ(at(ttaBottom), (BtnPoint{20, 2 * spacing}));
    EXPECT_EQ(at(ttaLeft), (BtnPoint{spacing, 14}));
    EXPECT_EQ(at(ttaRight), (BtnPoint{w - tw - spacing, 14}));
    EXPECT_EQ(at(ttaCenter), (BtnPoint{20, 14}));
    EXPECT_EQ(at(ttaBottomRight), (BtnPoint{w - tw - spacing, 2 * spacing}));
    EXPECT_EQ(at(ttaTopLeft), (BtnPoint{spacing, h - th - 2 * spacing}));
}

TEST(LayoutTest, GlyphCellSitsOppositeTheCaption) {
    // A 3-cell 48 x 16 strip: cell width 16.
    EXPECT_EQ(GlyphRect(ttaLeft, 60, 41, 48, 16, 3, 2), (BtnRect{42, 12, 58, 28}));
    EXPECT_EQ(GlyphRect(ttaRight, 60, 41, 48, 16, 3, 2), (BtnRect{2, 12, 18, 28}));
    EXPECT_EQ(GlyphRect(ttaBottom, 61, 40, 48, 16, 3, 2), (BtnRect{22, 2, 38, 18}));
    EXPECT_EQ(GlyphRect(ttaTopRight, 61, 40, 48, 16, 3, 2), (BtnRect{22, 22, 38, 38}));
    // More cells than pixels: the cell is the whole strip.
    EXPECT_EQ(GlyphRect(ttaCenter, 40, 40, 3, 16, 4, 2), (BtnRect{18, 12, 21, 28}));
    const BtnRect g = GlyphRect(ttaBottom, 61, 40, 48, 16, 3, 2);
    EXPECT_EQ(CaptionOffset(ttaBottom, 61, 40, 21, 12, g, 2), (BtnPoint{20, 20}));
}

TEST(GlyphRulesTest, NumGlyphsComesFromTheRatio) {
    EXPECT_EQ(NumGlyphsForGlyph(64, 16, 1), 4);
    EXPECT_EQ(NumGlyphsForGlyph(32, 16, 3), 2);
    EXPECT_EQ(NumGlyphsForGlyph(96, 16, 2), 1);  // ratio 6
    EXPECT_EQ(NumGlyphsForGlyph(50, 16, 3), 3);
    EXPECT_EQ(NumGlyphsForGlyph(16, 0, 2), 2);
    // A zero-width strip would give 0 cells and divide by zero later.
    EXPECT_EQ(NumGlyphsForGlyph(0, 16, 2), 2);
}

TEST(GlyphRulesTest, ImageIndexRules) {
    BtnState s;
    s.frameStyle = fsRegular;
    s.numGlyphs = 4;
    EXPECT_EQ(ImageIndex(s), 0);
    s.pressedLook = true;
    EXPECT_EQ(ImageIndex(s), 2);
    s.enabled = false;
    EXPECT_EQ(ImageIndex(s), 1);
    s.numGlyphs = 2;
    s.enabled = true;
    EXPECT_EQ(ImageIndex(s), 0);  // two cells have no pressed image
    s.enabled = false;
    EXPECT_EQ(ImageIndex(s), 1);
    s.numGlyphs = 1;
    EXPECT_EQ(ImageIndex(s), 2);  // the disabled image after the gray one
    s.frameStyle = fsExplorer;
    s.enabled = true;
    EXPECT_EQ(ImageIndex(s), 1);  // gray while the mouse is outside
    s.mouseInside = true;
    EXPECT_EQ(ImageIndex(s), 0);
    s.mouseInside = false;
    s.autoGray = false;
    EXPECT_EQ(ImageIndex(s), 0);
    s.autoGray = true;
    s.enabled = false;
    EXPECT_EQ(ImageIndex(s), 2);  // disabled wins over gray
}

TEST(GlyphRulesTest, GrayWeightsRedElevenGreenFiftyNineBlueThirty) {
    EXPECT_EQ(GrayValue(255, 0, 0), 28);
    EXPECT_EQ(GrayValue(0, 255, 0), 150);
    EXPECT_EQ(GrayValue(0, 0, 255), 76);
    EXPECT_EQ(GrayValue(200, 100, 50), 96);
    const PixelImage cell{2, 1, {0x0000FF, 0xFFFFFF}};
    EXPECT_EQ(GrayImage(cell).rgb, (std::vector<std::uint32_t>{0x4C4C4C, 0xFFFFFF}));
}

TEST(GlyphRulesTest, DisabledImageEmbossesTheInk) {
    // t = top-left red; white and red are background, blue and black are ink.
    const std::uint32_t R = 0xFF0000, W = 0xFFFFFF, K = 0x000000, U = 0x0000FF;
    const PixelImage cell{4,
                          3,
                          {R, W, R, R,  //
                           R, K, U, W,  //
                           W, R, R, K}};
    const std::uint32_t F = 0x111111, H = 0x222222, S = 0x333333;
    EXPECT_EQ(DisabledImage(cell, F, H, S).rgb, (std::vector<std::uint32_t>{F, F, F, F,  //
                                                                            F, S, S, F,  //
                                                                            F, F, H, S}));
    EXPECT_EQ(TransparentColour(cell), W);
    EXPECT_EQ(CutCell(cell, 1, 2).rgb, (std::vector<std::uint32_t>{R, R, U, W, R, K}));
}

TEST(AcceleratorTest, CharacterAfterTheFirstSingleAmpersand) {
    EXPECT_EQ(AcceleratorChar("&Run"), "R");
    EXPECT_EQ(AcceleratorChar("Save && &quit"), "q");
    EXPECT_EQ(AcceleratorChar("a&&b"), "");
    EXPECT_EQ(AcceleratorChar("end&"), "");
    EXPECT_EQ(AcceleratorChar("开始&运行"), "运");
    EXPECT_EQ(AcceleratorChar("no marker"), "");
}

TEST(PageTabRulesTest, CaptionCentredWithTruncatingDivision) {
    EXPECT_EQ(TabCaptionOrigin({10, 2, 91, 22}, 40, 13, true), (BtnPoint{30, 5}));
    EXPECT_EQ(TabCaptionOrigin({10, 2, 91, 22}, 40, 13, false), (BtnPoint{30, 7}));
    // Wider than the tab: (0 + 10 - 15) / 2 truncates to -2, not -3.
    EXPECT_EQ(TabCaptionOrigin({0, 0, 10, 20}, 15, 13, true), (BtnPoint{-2, 3}));
}

}  // namespace
}  // namespace ristova::widgets
