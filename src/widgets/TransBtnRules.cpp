#include "widgets/TransBtnRules.h"

#include <algorithm>

namespace ristova::widgets {

std::vector<FrameRun> Bevel(BtnRect& rect, ColourRole top, ColourRole bottom, int n) {
    std::vector<FrameRun> runs;
    if (n <= 0) return runs;
    int ring = 0;
    for (; ring < n; ++ring) {
        const int right = rect.right - 1;
        const int last = rect.bottom - 1;
        if (right < rect.left || last < rect.top) break;
        // Top colour first, so the bottom colour takes the top-right and
        // bottom-left corners.
        runs.push_back({rect.left, rect.top, rect.left, last, top});
        runs.push_back({rect.left, rect.top, right, rect.top, top});
        runs.push_back({right, rect.top, right, last, bottom});
        runs.push_back({rect.left, last, right, last, bottom});
        rect = {rect.left + 1, rect.top + 1, rect.right - 1, rect.bottom - 1};
    }
    // Rings without area draw nothing but still shrink the rectangle; a huge
    // BorderWidth therefore costs no more than the button's size.
    const int rest = n - ring;
    rect = {rect.left + rest, rect.top + rest, rect.right - rest, rect.bottom - rest};
    return runs;
}

namespace {

using R = ColourRole;

FrameOp FillOp(BtnRect rect, ColourRole colour) {
    return {FrameOp::Fill, rect, colour, colour, 0};
}

// Appends bevel ops the way the paint code calls bevel: each one starts on
// the rectangle that the previous one left behind.
class BevelChain {
  public:
    BevelChain(std::vector<FrameOp>& plan, BtnRect rect) : plan_(plan), rect_(rect) {}
    BevelChain& Then(ColourRole top, ColourRole bottom, int rings) {
        plan_.push_back({FrameOp::Bevel, rect_, top, bottom, rings});
        Bevel(rect_, top, bottom, rings);
        return *this;
    }

  private:
    std::vector<FrameOp>& plan_;
    BtnRect rect_;
};

void AddBaseFrame(std::vector<FrameOp>& plan, const BtnState& s, int w, int h) {
    const int bw = s.borderWidth;
    switch (s.frameStyle) {
        case fsRegular:
            // Opaque: a face rectangle outlined in black; transparent: only
            // the outline.
            if (!s.transparent) plan.push_back(FillOp({1, 1, w, h}, R::Face));
            BevelChain(plan, {1, 1, w, h}).Then(R::Black, R::Black, bw);
            break;
        case fsIndent:
            if (!s.transparent) plan.push_back(FillOp({0, 0, w - 1, h - 1}, R::Face));
            BevelChain(plan, {0, 0, w - 1, h - 1}).Then(R::Shadow, R::Shadow, bw);
            BevelChain(plan, {1, 1, w, h}).Then(R::Highlight, R::Highlight, bw);
            break;
        default:
            if (!s.transparent) plan.push_back(FillOp({0, 0, w, h}, R::Face));
            break;
    }
}

void AddStateFrame(std::vector<FrameOp>& plan, const BtnState& s, int w, int h) {
    const int bw = s.borderWidth;
    BevelChain chain(plan, {0, 0, w, h});
    const bool pressed = s.pressedLook && s.frameStyle != fsNone;
    if (pressed) {
        switch (s.frameStyle) {
            case fsRegular:
            case fsIndent:
                if (s.showPressed)
                    chain.Then(R::Black, R::Highlight, bw).Then(R::Shadow, R::Face, bw);
                break;
            case fsExplorer:
                if (s.mouseInside || s.down) {
                    if (s.showPressed)
                        chain.Then(R::Shadow, R::Highlight, bw);
                    else
                        chain.Then(R::Highlight, R::Shadow, bw);
                }
                break;
            case fsLight:
                if (s.showPressed) chain.Then(R::Shadow, R::Highlight, 1);
                break;
            case fsDark:
                if (s.showPressed) chain.Then(R::DarkShadow, R::Face, 1);
                break;
            case fsMono:
                if (s.showPressed) chain.Then(R::DarkShadow, R::Highlight, 1);
                break;
            case fsNone:
                break;
        }
        return;
    }
    switch (s.frameStyle) {
        case fsRegular:
            chain.Then(R::Highlight, R::Black, bw).Then(R::Face, R::Shadow, bw);
            break;
        case fsIndent:
            chain.Then(R::Shadow, R::Highlight, bw);
            break;
        case fsExplorer:
            if (s.mouseInside) chain.Then(R::Highlight, R::Shadow, bw);
            break;
        case fsLight:
            chain.Then(R::Highlight, R::Shadow, 1);
            break;
        case fsDark:
            chain.Then(R::Face, R::DarkShadow, 1);
            break;
        case fsMono:
            chain.Then(R::Highlight, R::DarkShadow, 1);
            break;
        case fsNone:
            break;
    }
}

bool CaptionBelow(TTextAlign a) {
    return a == ttaBottomRight || a == ttaBottom || a == ttaBottomLeft;
}
bool CaptionAbove(TTextAlign a) {
    return a == ttaTopLeft || a == ttaTop || a == ttaTopRight;
}

}  // namespace

std::vector<FrameOp> FramePlan(const BtnState& state, int width, int height) {
    std::vector<FrameOp> plan;
    AddBaseFrame(plan, state, width, height);
    AddStateFrame(plan, state, width, height);
    return plan;
}

std::vector<FrameRun> ExecuteFramePlan(const std::vector<FrameOp>& plan) {
    std::vector<FrameRun> runs;
    for (const FrameOp& op : plan) {
        if (op.kind == FrameOp::Fill) {
            if (op.rect.Width() > 0 && op.rect.Height() > 0)
                runs.push_back(
                    {op.rect.left, op.rect.top, op.rect.right - 1, op.rect.bottom - 1, op.top});
            continue;
        }
        BtnRect rect = op.rect;
        const auto ring = Bevel(rect, op.top, op.bottom, op.rings);
        runs.insert(runs.end(), ring.begin(), ring.end());
    }
    return runs;
}

BtnRect GlyphRect(TTextAlign align, int width, int height, int glyphWidth, int glyphHeight,
                  int numGlyphs, int spacing) {
    int cw = numGlyphs > 0 ? glyphWidth / numGlyphs : 0;
    if (cw <= 0) cw = glyphWidth;
    int top;
    if (CaptionBelow(align))
        top = spacing;
    else if (CaptionAbove(align))
        top = height - glyphHeight - spacing;
    else
        top = (height - glyphHeight) / 2;
    int left;
    if (align == ttaLeft)
        left = width - cw - spacing;
    else if (align == ttaRight)
        left = spacing;
    else
        left = (width - cw) / 2;
    return {left, top, left + cw, top + glyphHeight};
}

BtnPoint CaptionOffset(TTextAlign align, int width, int height, int tw, int th,
                       const BtnRect& glyph, int spacing) {
    const int centreX = width / 2 - tw / 2;
    const int rightX = width - tw - spacing;
    const int middleY = height / 2 - th / 2;
    const int aboveY = glyph.top - th - spacing;
    const int belowY = glyph.bottom + spacing;
    switch (align) {
        case ttaTopLeft:
            return {spacing, aboveY};
        case ttaTop:
            return {centreX, aboveY};
        case ttaTopRight:
            return {rightX, aboveY};
        case ttaRight:
            return {rightX, middleY};
        case ttaBottomRight:
            return {rightX, belowY};
        case ttaBottom:
            return {centreX, belowY};
        case ttaBottomLeft:
            return {spacing, belowY};
        case ttaLeft:
            return {spacing, middleY};
        case ttaCenter:
            break;
    }
    return {centreX, middleY};
}

int NumGlyphsForGlyph(int glyphWidth, int glyphHeight, int current) {
    // A zero-width strip would give 0 cells and a division by zero in the
    // layout; it keeps the current count instead.
    if (glyphHeight <= 0 || glyphWidth <= 0 || glyphWidth % glyphHeight != 0) return current;
    const int n = glyphWidth / glyphHeight;
    return n > kMaxNumGlyphs ? 1 : n;
}

int ImageIndex(const BtnState& s) {
    int index = 0;
    if (s.numGlyphs == 2) {
        if (!s.enabled) index = 1;
    } else if (s.numGlyphs == 3 || s.numGlyphs == 4) {
        if (!s.enabled)
            index = 1;
        else if (s.pressedLook)
            index = 2;
    }
    if (s.frameStyle == fsExplorer && s.autoGray && !s.mouseInside) index = s.numGlyphs;
    if (!s.enabled && s.numGlyphs == 1) index = s.numGlyphs + 1;
    return index;
}

bool ContentsShifted(const BtnState& s) {
    return s.pressedLook && s.showPressed;
}

int GrayValue(int r, int g, int b) {
    return (11 * r + 59 * g + 30 * b) / 100;
}

PixelImage GrayImage(const PixelImage& cell) {
    PixelImage gray = cell;
    for (std::uint32_t& p : gray.rgb) {
        const auto v = static_cast<std::uint32_t>(GrayValue(static_cast<int>((p >> 16) & 0xFF),
                                                            static_cast<int>((p >> 8) & 0xFF),
                                                            static_cast<int>(p & 0xFF)));
        p = (v << 16) | (v << 8) | v;
    }
    return gray;
}

PixelImage DisabledImage(const PixelImage& cell, std::uint32_t face, std::uint32_t highlight,
                         std::uint32_t shadow) {
    PixelImage out{cell.width, cell.height,
                   std::vector<std::uint32_t>(cell.rgb.size(), face & 0xFFFFFF)};
    if (cell.Empty()) return out;
    const std::uint32_t t = cell.At(0, 0) & 0xFFFFFF;
    auto ink = [&](int x, int y) {
        const std::uint32_t p = cell.At(x, y) & 0xFFFFFF;
        return p != 0xFFFFFF && p != t;
    };
    for (int y = 0; y < cell.height; ++y)
        for (int x = 0; x < cell.width; ++x)
            if (ink(x, y) && x + 1 < cell.width && y + 1 < cell.height)
                out.At(x + 1, y + 1) = highlight & 0xFFFFFF;
    for (int y = 0; y < cell.height; ++y)
        for (int x = 0; x < cell.width; ++x)
            if (ink(x, y)) out.At(x, y) = shadow & 0xFFFFFF;
    return out;
}

std::uint32_t TransparentColour(const PixelImage& image) {
    return image.Empty() ? 0 : image.At(0, image.height - 1) & 0xFFFFFF;
}

PixelImage CutCell(const PixelImage& strip, int index, int cellWidth) {
    PixelImage cell{cellWidth, strip.height,
                    std::vector<std::uint32_t>(static_cast<size_t>(std::max(cellWidth, 0)) *
                                               std::max(strip.height, 0))};
    const int x0 = index * cellWidth;
    for (int y = 0; y < strip.height; ++y)
        for (int x = 0; x < cellWidth && x0 + x < strip.width; ++x)
            cell.At(x, y) = strip.At(x0 + x, y);
    return cell;
}

std::string AcceleratorChar(std::string_view caption) {
    for (size_t i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != '&') continue;
        if (caption[i + 1] == '&') {
            ++i;  // "&&" is a literal "&"
            continue;
        }
        const auto lead = static_cast<unsigned char>(caption[i + 1]);
        size_t len = 1;
        if (lead >= 0xF0)
            len = 4;
        else if (lead >= 0xE0)
            len = 3;
        else if (lead >= 0xC0)
            len = 2;
        return std::string(caption.substr(i + 1, len));
    }
    return {};
}

}  // namespace ristova::widgets
