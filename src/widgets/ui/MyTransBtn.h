#pragma once
// TMyTransBtn: the pages' push button. It paints on its parent's background
// (nothing is filled unless Transparent is false), draws an optional glyph
// strip and a caption inside one of seven frame styles, stays pressed while
// Down, can pop up a menu when pressed and can be dragged (Movable).
//
//   auto* btn = new TMyTransBtn(page);          // 40 x 40, fsExplorer, "Caption"
//   btn->SetCaption("开始&R");                  // Alt+R, or R where no text field has focus
//   btn->SetFrameStyle(fsRegular);
//   connect(btn, &TMyTransBtn::clicked, page, &Page::btnRunClick);
//
// Every command button of the pages comes from MakePageButton below.
//
// Colours come from the widget's palette (active group, whatever the state,
// since they stand for fixed system colours): face = Button, shadow = Dark,
// highlight = Light, dark shadow = Shadow; black is always black.
//
// The glyph is an opaque bitmap strip of NumGlyphs cells; in each image the
// colour of the bottom-left pixel is transparent.
#include <QColor>
#include <QImage>
#include <QMenu>
#include <QPointer>
#include <QWidget>
#include <vector>

#include "widgets/TransBtnRules.h"

class QShortcut;

namespace ristova::widgets {

class TMyTransBtn : public QWidget {
    Q_OBJECT

  public:
    explicit TMyTransBtn(QWidget* parent = nullptr);
    ~TMyTransBtn() override;

    // With fsExplorer, the gray image while the mouse is not over the button.
    bool AutoGray() const { return autoGray_; }
    void SetAutoGray(bool value) { autoGray_ = value; }
    // Rings of the fsRegular, fsIndent and fsExplorer frames; negative is 0.
    int BorderWidth() const { return borderWidth_; }
    void SetBorderWidth(int value);
    // "&" marks the accelerator character; "&&" is a literal "&".
    QString Caption() const { return caption_; }
    void SetCaption(const QString& value);
    bool Down() const { return down_; }
    void SetDown(bool value);
    TFrameStyle FrameStyle() const { return frameStyle_; }
    void SetFrameStyle(TFrameStyle value);
    // Copies the picture; a strip whose width is 1 to 4 times its height sets
    // NumGlyphs to that ratio (beyond 4: 1).
    const QImage& Glyph() const { return glyph_; }
    void SetGlyph(const QImage& value);
    void SetGlyph(const QPixmap& value);
    // 1 to 4 (clamped). Setting it does not rebuild the images; a glyph does.
    int NumGlyphs() const { return numGlyphs_; }
    void SetNumGlyphs(int value);
    // Shown below the button when it is pressed; cleared when the menu goes.
    QMenu* PopUpMenu() const { return popUpMenu_; }
    void SetPopUpMenu(QMenu* menu) { popUpMenu_ = menu; }
    // Whether the pressed state is drawn (sunken frame, contents one pixel down-right).
    bool ShowPressed() const { return showPressed_; }
    void SetShowPressed(bool value) { showPressed_ = value; }
    int Spacing() const { return spacing_; }
    void SetSpacing(int value);
    TTextAlign TextAlign() const { return textAlign_; }
    void SetTextAlign(TTextAlign value);
    bool Transparent() const { return transparent_; }
    void SetTransparent(bool value);
    bool WordWrap() const { return wordWrap_; }
    void SetWordWrap(bool value);
    bool Movable() const { return movable_; }
    void SetMovable(bool value) { movable_ = value; }
    // The caption's colour when enabled (the font colour; black by default).
    QColor FontColor() const { return fontColor_; }
    void SetFontColor(const QColor& value);

    bool PressedLook() const { return pressedLook_; }
    bool MouseInside() const { return mouseInside_; }
    // The images built from the glyph: its cells, then gray, then disabled.
    const std::vector<QImage>& Images() const { return images_; }

    // Raises clicked, as a mouse click or the accelerator does.
    void Click();

    QSize sizeHint() const override { return size(); }

  signals:
    void clicked();
    void mouseEnter();
    void mouseExit();
    void mouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint pos);
    void mouseMove(Qt::KeyboardModifiers modifiers, QPoint pos);
    void mouseUp(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint pos);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    // The look-changing setters repaint only when the value changed.
    template <typename T>
    void Store(T& field, const T& value) {
        if (field == value) return;
        field = value;
        update();
    }
    BtnState State() const;
    QColor Colour(ColourRole role) const;
    void GlyphChanged();
    void Press(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint pos);
    void Release(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint pos);
    void SetMouseInside(bool inside);
    void UpdateAccelerator();
    void UpdatePlainKeyShortcut();
    void PaintGlyph(QPainter& painter, const BtnState& state, const BtnRect& glyphRect, int shift);
    void PaintCaption(QPainter& painter, const BtnRect& glyphRect, int shift);

    bool autoGray_ = true;
    int borderWidth_ = 1;
    QString caption_ = QStringLiteral("Caption");
    bool down_ = false;
    TFrameStyle frameStyle_ = fsExplorer;
    QImage glyph_;
    int numGlyphs_ = 1;
    QPointer<QMenu> popUpMenu_;
    bool showPressed_ = true;
    int spacing_ = 2;
    TTextAlign textAlign_ = ttaCenter;
    bool transparent_ = true;
    bool wordWrap_ = false;
    bool movable_ = false;
    QColor fontColor_ = Qt::black;

    bool pressedLook_ = false;
    bool tracking_ = false;
    bool held_ = false;
    bool mouseInside_ = false;
    bool clickPending_ = false;  // a left press happened here; its release inside clicks
    QPoint dragOrigin_;
    std::vector<QImage> images_;

    // Alt+key always; the plain key only while the focus is not on a widget
    // that takes text, so typing into a field never clicks a button.
    QShortcut* altShortcut_ = nullptr;
    QShortcut* plainShortcut_ = nullptr;
};

// The command button of the pages: fsRegular, no glyph, ttaCenter,
// transparent, a 12-pixel black 宋体 caption; most are 21 pixels high.
TMyTransBtn* MakePageButton(const QString& caption, QWidget* parent, int w, int h = 21);

// The default font of the buttons: 宋体 where installed, otherwise a CJK font
// that Debian ships.
QFont SongTiFont(int pointSize);

}  // namespace ristova::widgets
