#include "widgets/ui/MyTransBtn.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QEnterEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QShortcut>
#include <algorithm>

namespace ristova::widgets {

namespace {

PixelImage ToPixels(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    PixelImage out{rgb.width(), rgb.height(),
                   std::vector<std::uint32_t>(static_cast<size_t>(rgb.width()) * rgb.height())};
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x) out.At(x, y) = line[x] & 0xFFFFFF;
    }
    return out;
}

// An image-list entry: the pixels of its transparent colour get alpha 0.
QImage Masked(const PixelImage& pixels) {
    QImage out(pixels.width, pixels.height, QImage::Format_ARGB32);
    const std::uint32_t key = TransparentColour(pixels);
    for (int y = 0; y < pixels.height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < pixels.width; ++x) {
            const std::uint32_t p = pixels.At(x, y);
            line[x] = p == key ? 0u : (0xFF000000u | p);
        }
    }
    return out;
}

std::uint32_t Rgb(const QColor& c) {
    return c.rgb() & 0xFFFFFF;
}

bool AcceptsTextInput(const QWidget* w) {
    if (!w) return false;
    if (w->testAttribute(Qt::WA_InputMethodEnabled)) return true;
    // Grids start editing or search on a letter, lists search on it.
    return qobject_cast<const QAbstractItemView*>(w) || qobject_cast<const QAbstractSpinBox*>(w) ||
           qobject_cast<const QComboBox*>(w);
}

}  // namespace

QFont SongTiFont(int pointSize) {
    QFont font;
    font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体"),
                      QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Noto Sans CJK SC")});
    font.setPointSize(pointSize);
    return font;
}

TMyTransBtn::TMyTransBtn(QWidget* parent) : QWidget(parent) {
    setGeometry(0, 0, 40, 40);
    setFont(SongTiFont(9));
    // Hover only matters for the mouseMove signal; tracking starts at a press.
    setMouseTracking(true);
    altShortcut_ = new QShortcut(this);
    plainShortcut_ = new QShortcut(this);
    for (QShortcut* s : {altShortcut_, plainShortcut_}) {
        s->setContext(Qt::WindowShortcut);
        connect(s, &QShortcut::activated, this, &TMyTransBtn::Click);
        // Two buttons with one accelerator: Qt takes turns, one click a key.
        connect(s, &QShortcut::activatedAmbiguously, this, &TMyTransBtn::Click);
    }
    connect(qApp, &QApplication::focusChanged, this, [this] { UpdatePlainKeyShortcut(); });
    UpdateAccelerator();
}

TMyTransBtn::~TMyTransBtn() = default;

void TMyTransBtn::SetBorderWidth(int value) {
    value = std::max(value, 0);
    Store(borderWidth_, value);
}

void TMyTransBtn::SetCaption(const QString& value) {
    if (value == caption_) return;
    caption_ = value;
    UpdateAccelerator();
    update();
}

void TMyTransBtn::SetDown(bool value) {
    down_ = value;
    pressedLook_ = value;
    tracking_ = value;
    repaint();
}

void TMyTransBtn::SetFrameStyle(TFrameStyle value) {
    Store(frameStyle_, value);
}

void TMyTransBtn::SetGlyph(const QImage& value) {
    glyph_ = value.copy();
    GlyphChanged();
    update();
}

void TMyTransBtn::SetGlyph(const QPixmap& value) {
    SetGlyph(value.toImage());
}

void TMyTransBtn::SetNumGlyphs(int value) {
    value = std::clamp(value, kMinNumGlyphs, kMaxNumGlyphs);
    Store(numGlyphs_, value);
}

void TMyTransBtn::SetSpacing(int value) {
    Store(spacing_, value);
}

void TMyTransBtn::SetTextAlign(TTextAlign value) {
    Store(textAlign_, value);
}

void TMyTransBtn::SetTransparent(bool value) {
    Store(transparent_, value);
}

void TMyTransBtn::SetWordWrap(bool value) {
    Store(wordWrap_, value);
}

void TMyTransBtn::SetFontColor(const QColor& value) {
    Store(fontColor_, value);
}

void TMyTransBtn::Click() {
    if (isEnabled()) emit clicked();
}

BtnState TMyTransBtn::State() const {
    BtnState s;
    s.frameStyle = frameStyle_;
    s.transparent = transparent_;
    s.pressedLook = pressedLook_;
    s.showPressed = showPressed_;
    s.mouseInside = mouseInside_;
    s.down = down_;
    s.enabled = isEnabled();
    s.autoGray = autoGray_;
    s.borderWidth = borderWidth_;
    s.numGlyphs = numGlyphs_;
    return s;
}

QColor TMyTransBtn::Colour(ColourRole role) const {
    const QPalette& pal = palette();
    switch (role) {
        case ColourRole::Face:
            return pal.color(QPalette::Active, QPalette::Button);
        case ColourRole::Shadow:
            return pal.color(QPalette::Active, QPalette::Dark);
        case ColourRole::Highlight:
            return pal.color(QPalette::Active, QPalette::Light);
        case ColourRole::DarkShadow:
            return pal.color(QPalette::Active, QPalette::Shadow);
        case ColourRole::Black:
            break;
    }
    return Qt::black;
}

void TMyTransBtn::GlyphChanged() {
    update();
    numGlyphs_ = NumGlyphsForGlyph(glyph_.width(), glyph_.height(), numGlyphs_);
    if (glyph_.isNull() || glyph_.width() <= 0 || glyph_.height() <= 0) return;
    images_.clear();
    const PixelImage strip = ToPixels(glyph_);
    const int cellWidth = glyph_.width() / numGlyphs_;
    PixelImage gray;
    PixelImage disabled;
    for (int i = 0; i < numGlyphs_; ++i) {
        const PixelImage cell = CutCell(strip, i, cellWidth);
        if (i == 0) {
            gray = GrayImage(cell);
            disabled =
                DisabledImage(cell, Rgb(Colour(ColourRole::Face)),
                              Rgb(Colour(ColourRole::Highlight)), Rgb(Colour(ColourRole::Shadow)));
        }
        images_.push_back(Masked(cell));
    }
    images_.push_back(Masked(gray));
    images_.push_back(Masked(disabled));
    update();
}

void TMyTransBtn::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const BtnState state = State();
    for (const FrameRun& run : ExecuteFramePlan(FramePlan(state, width(), height())))
        painter.fillRect(QRect(QPoint(run.x1, run.y1), QPoint(run.x2, run.y2)), Colour(run.colour));
    const BtnRect glyphRect = GlyphRect(textAlign_, width(), height(), glyph_.width(),
                                        glyph_.height(), numGlyphs_, spacing_);
    const int shift = ContentsShifted(state) ? 1 : 0;
    if (!glyph_.isNull()) PaintGlyph(painter, state, glyphRect, shift);
    if (!caption_.isEmpty()) PaintCaption(painter, glyphRect, shift);
}

void TMyTransBtn::PaintGlyph(QPainter& painter, const BtnState& state, const BtnRect& glyphRect,
                             int shift) {
    // NumGlyphs set after the glyph may point past the list: nothing is drawn.
    const int index = ImageIndex(state);
    if (index < 0 || index >= static_cast<int>(images_.size())) return;
    const QImage& image = images_[static_cast<size_t>(index)];
    const QPoint at(glyphRect.left + shift, glyphRect.top + shift);
    if (!transparent_) painter.fillRect(QRect(at, image.size()), Colour(ColourRole::Face));
    painter.drawImage(at, image);
}

void TMyTransBtn::PaintCaption(QPainter& painter, const BtnRect& glyphRect, int shift) {
    painter.setFont(font());
    const int lineFlags =
        Qt::TextShowMnemonic | (wordWrap_ ? Qt::TextWordWrap : Qt::TextSingleLine);
    const QRect measured = painter.fontMetrics().boundingRect(
        QRect(0, 0, width(), height()), Qt::AlignLeft | Qt::AlignTop | lineFlags, caption_);
    const int tw = measured.width();
    const int th = measured.height();
    const BtnPoint offset =
        CaptionOffset(textAlign_, width(), height(), tw, th, glyphRect, spacing_);
    const QRect box(offset.x + shift, offset.y + shift, tw, th);
    const int drawFlags = Qt::AlignHCenter | Qt::AlignTop | Qt::TextDontClip | lineFlags;
    if (isEnabled()) {
        painter.setPen(fontColor_);
        painter.drawText(box, drawFlags, caption_);
        return;
    }
    // Engraved: highlight one pixel down-right, shadow on top at its place.
    painter.setPen(Colour(ColourRole::Highlight));
    painter.drawText(box.translated(1, 1), drawFlags, caption_);
    painter.setPen(Colour(ColourRole::Shadow));
    painter.drawText(box, drawFlags, caption_);
}

void TMyTransBtn::Press(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint pos) {
    if (!isEnabled()) return;
    if (button == Qt::LeftButton) clickPending_ = true;
    if (held_) return;
    held_ = true;
    if (movable_) dragOrigin_ = pos;
    QPointer<TMyTransBtn> self(this);
    emit mouseDown(button, modifiers, pos);
    if (!self) return;
    if (rect().contains(pos)) {
        tracking_ = true;
        pressedLook_ = true;
        repaint();
    }
    if (!popUpMenu_) return;
    popUpMenu_->exec(mapToGlobal(QPoint(0, height())));
    // The menu took the release (Qt delivers it to the popup, so nothing is
    // left queued for this button); finish the press as if it came here.
    if (!self) return;
    clickPending_ = false;
    Release(button, modifiers, pos);
}

void TMyTransBtn::Release(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint pos) {
    if (!isEnabled() || !held_) return;
    held_ = false;
    if (down_) return;
    QPointer<TMyTransBtn> self(this);
    emit mouseUp(button, modifiers, pos);
    if (!self) return;
    tracking_ = false;
    pressedLook_ = false;
    repaint();
}

void TMyTransBtn::mousePressEvent(QMouseEvent* event) {
    Press(event->button(), event->modifiers(), event->position().toPoint());
}

// Double clicks are not told apart: the second press is just a press.
void TMyTransBtn::mouseDoubleClickEvent(QMouseEvent* event) {
    mousePressEvent(event);
}

void TMyTransBtn::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    QPointer<TMyTransBtn> self(this);
    emit mouseMove(event->modifiers(), pos);
    if (!self || !tracking_) return;
    if (movable_) move(x() + pos.x() - dragOrigin_.x(), y() + pos.y() - dragOrigin_.y());
    const bool inside = rect().contains(pos);
    if (inside != pressedLook_) {
        pressedLook_ = inside;
        repaint();
    }
}

void TMyTransBtn::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    bool click = false;
    if (event->button() == Qt::LeftButton) {
        click = clickPending_ && rect().contains(pos);
        clickPending_ = false;
    }
    // The click comes first, then the release handling; a Down button still clicks.
    QPointer<TMyTransBtn> self(this);
    if (click) emit clicked();
    if (!self) return;
    Release(event->button(), event->modifiers(), pos);
}

void TMyTransBtn::enterEvent(QEnterEvent*) {
    SetMouseInside(true);
}

void TMyTransBtn::leaveEvent(QEvent*) {
    SetMouseInside(false);
}

void TMyTransBtn::SetMouseInside(bool inside) {
    if (!isEnabled()) return;
    mouseInside_ = inside;
    QPointer<TMyTransBtn> self(this);
    if (inside)
        emit mouseEnter();
    else
        emit mouseExit();
    if (self && frameStyle_ == fsExplorer) repaint();
}

void TMyTransBtn::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::EnabledChange) return;
    if (!isEnabled()) {
        pressedLook_ = false;
        tracking_ = false;
        held_ = false;
        mouseInside_ = false;
        clickPending_ = false;
    }
    repaint();
}

void TMyTransBtn::UpdateAccelerator() {
    const QString ch = QString::fromStdString(AcceleratorChar(caption_.toStdString()));
    QList<QKeySequence> alt;
    QList<QKeySequence> plain;
    if (!ch.isEmpty()) {
        // Qt names a letter's key by its capital; Shift is allowed so that the
        // character matches without regard to case.
        const int key = static_cast<int>(ch.toUpper().toUcs4().value(0));
        alt << QKeySequence(Qt::ALT | key);
        plain << QKeySequence(key);
        if (ch.toUpper() != ch.toLower()) {
            alt << QKeySequence(Qt::ALT | Qt::SHIFT | key);
            plain << QKeySequence(Qt::SHIFT | key);
        }
    }
    altShortcut_->setKeys(alt);
    plainShortcut_->setKeys(plain);
    UpdatePlainKeyShortcut();
}

void TMyTransBtn::UpdatePlainKeyShortcut() {
    plainShortcut_->setEnabled(!AcceptsTextInput(QApplication::focusWidget()));
}

TMyTransBtn* MakePageButton(const QString& caption, QWidget* parent, int w, int h) {
    auto* button = new TMyTransBtn(parent);
    button->SetCaption(caption);
    button->SetFrameStyle(fsRegular);
    button->SetTextAlign(ttaCenter);
    button->SetTransparent(true);
    QFont font = SongTiFont(9);
    font.setPixelSize(12);
    button->setFont(font);
    button->SetFontColor(Qt::black);
    button->resize(w, h);
    return button;
}

}  // namespace ristova::widgets
