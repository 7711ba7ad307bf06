#pragma once
// The picture button's drawing and state rules without any toolkit: frame
// plans, glyph and caption layout, which image of the strip is shown, and the
// derived gray and disabled images. The Qt button only executes what these
// functions decide, so the rules are testable without a display.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ristova::widgets {

enum TFrameStyle {
    fsRegular = 0,
    fsIndent = 1,
    fsExplorer = 2,
    fsNone = 3,
    fsLight = 4,
    fsDark = 5,
    fsMono = 6,
};

// Where the caption stands relative to the glyph.
enum TTextAlign {
    ttaTopLeft = 0,
    ttaTop = 1,
    ttaTopRight = 2,
    ttaRight = 3,
    ttaBottomRight = 4,
    ttaBottom = 5,
    ttaBottomLeft = 6,
    ttaLeft = 7,
    ttaCenter = 8,
};

constexpr int kMinNumGlyphs = 1;
constexpr int kMaxNumGlyphs = 4;

// Right and Bottom are exclusive, as in the frame rules.
struct BtnRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool operator==(const BtnRect&) const = default;
};

struct BtnPoint {
    int x = 0;
    int y = 0;
    bool operator==(const BtnPoint&) const = default;
};

// The system colours a frame is made of; the toolkit maps them to its palette.
enum class ColourRole { Face, Shadow, Highlight, DarkShadow, Black };

// A box of pixels of one colour, both corners inclusive: a side of a bevel
// ring is one pixel wide, a fill is the whole area.
struct FrameRun {
    int x1, y1, x2, y2;
    ColourRole colour;
};

// n nested one-pixel rings from the outside in: left column and top row in
// the top colour, right column and bottom row in the bottom colour, with the
// top-right and bottom-left corners in the bottom colour. rect is shrunk by
// one pixel a ring and stays shrunk, so a second bevel lands inside the first.
// A ring that no longer has any area draws nothing.
std::vector<FrameRun> Bevel(BtnRect& rect, ColourRole top, ColourRole bottom, int n);

// What one paint pass draws for the frames, in order.
// A bevel "inside" another one already carries the shrunk rectangle.
struct FrameOp {
    enum Kind { Fill, Bevel } kind;
    BtnRect rect;    // Fill: the area; Bevel: the outer rectangle
    ColourRole top;  // Fill: the fill colour
    ColourRole bottom;
    int rings;
};

struct BtnState {
    TFrameStyle frameStyle = fsExplorer;
    bool transparent = true;
    bool pressedLook = false;
    bool showPressed = true;
    bool mouseInside = false;
    bool down = false;
    bool enabled = true;
    bool autoGray = true;
    int borderWidth = 1;
    int numGlyphs = 1;
};

// Background, base frame and state frame of a width x height button.
std::vector<FrameOp> FramePlan(const BtnState& state, int width, int height);

// The pixel runs that carry out a frame plan, in drawing order.
std::vector<FrameRun> ExecuteFramePlan(const std::vector<FrameOp>& plan);

// Glyph rectangle G for a glyph of glyphWidth x glyphHeight (the whole strip)
// in a width x height button; computed also for an empty glyph.
BtnRect GlyphRect(TTextAlign align, int width, int height, int glyphWidth, int glyphHeight,
                  int numGlyphs, int spacing);

// Offset (dx, dy) of the caption's measured box (0, 0, tw, th).
BtnPoint CaptionOffset(TTextAlign align, int width, int height, int tw, int th,
                       const BtnRect& glyph, int spacing);

// NumGlyphs after the glyph changes to glyphWidth x glyphHeight: the ratio
// when the width is a whole positive multiple of the height (1 beyond four),
// otherwise unchanged. A zero width leaves it unchanged, never 0.
int NumGlyphsForGlyph(int glyphWidth, int glyphHeight, int current);

// Index into the image list (cells, then gray, then disabled) to show.
int ImageIndex(const BtnState& state);

// Contents move by (1, 1) only when the pressed look is both set and shown.
bool ContentsShifted(const BtnState& state);

// Gray weights are red 11, green 59, blue 30, in that unusual order.
int GrayValue(int r, int g, int b);

// Pixels as 0xRRGGBB, row by row.
struct PixelImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> rgb;
    std::uint32_t At(int x, int y) const { return rgb[static_cast<size_t>(y) * width + x]; }
    std::uint32_t& At(int x, int y) { return rgb[static_cast<size_t>(y) * width + x]; }
    bool Empty() const { return width <= 0 || height <= 0; }
};

PixelImage GrayImage(const PixelImage& cell);

// Embossed look of a one-cell glyph: ink is every pixel that is neither white
// nor the top-left pixel's colour; on a face-filled image the ink goes in
// highlight one pixel right and down, then in shadow at its own place.
PixelImage DisabledImage(const PixelImage& cell, std::uint32_t face, std::uint32_t highlight,
                         std::uint32_t shadow);

// The colour that masks an image: its bottom-left pixel.
std::uint32_t TransparentColour(const PixelImage& image);

// Cell i (0-based) of a strip cut into cells of cellWidth.
PixelImage CutCell(const PixelImage& strip, int index, int cellWidth);

// The accelerator character of a caption as UTF-8: the character after the
// first "&" that is not part of "&&"; empty when there is none.
std::string AcceleratorChar(std::string_view caption);

}  // namespace ristova::widgets
