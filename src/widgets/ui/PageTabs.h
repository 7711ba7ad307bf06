#pragma once
// TPageControl: the window's page control PC, a QTabWidget whose tab captions
// can be owner-drawn so that the selected page's caption stands out in red.
//
//   auto* PC = new TPageControl(this);
//   PC->addTab(page1, "电源控制监视和操作");   // ... "电源控制器设置",
//                                              // "电源控制计划编辑", "关于系统"
//   ...                                        // end of the window's creation:
//   PC->SetOwnerDraw(true);
//
// Until SetOwnerDraw(true) the style draws the tabs as usual. Owner-drawn,
// the style still draws every tab's frame and background, then the draw-tab
// handler draws each caption, the selected one last so that a wide neighbour
// never covers it. The default handler is DrawPageTabCaption (the window's
// PCDrawTab rule); SetOnDrawTab replaces it. SetTabWidth fixes the tab width.
#include <QTabBar>
#include <QTabWidget>
#include <functional>

namespace ristova::widgets {

class TPageControl;

// The tab bar of TPageControl; exposed so that tests and the window can reach
// tabRect() and the fixed tab width.
class TPageTabBar : public QTabBar {
    Q_OBJECT

  public:
    explicit TPageTabBar(TPageControl* control);
    void SetOwnerDraw(bool on);
    bool OwnerDraw() const { return ownerDraw_; }
    // 0 sizes each tab to its caption; otherwise every tab has this width.
    void SetTabWidth(int width);
    int TabWidth() const { return tabWidth_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    QSize tabSizeHint(int index) const override;
    QSize minimumTabSizeHint(int index) const override;

  private:
    TPageControl* control_;
    bool ownerDraw_ = false;
    int tabWidth_ = 0;
};

class TPageControl : public QTabWidget {
    Q_OBJECT

  public:
    // rect is in the coordinates of the tab bar that canvas paints on; the
    // tab index is the page index (hidden pages are not drawn).
    using DrawTabHandler = std::function<void(TPageControl* control, QPainter& canvas, int tabIndex,
                                              const QRect& rect, bool active)>;

    explicit TPageControl(QWidget* parent = nullptr);

    void SetOwnerDraw(bool on) { tabs_->SetOwnerDraw(on); }
    bool OwnerDraw() const { return tabs_->OwnerDraw(); }
    void SetOnDrawTab(DrawTabHandler handler);
    const DrawTabHandler& OnDrawTab() const { return onDrawTab_; }
    void SetTabWidth(int width) { tabs_->SetTabWidth(width); }
    TPageTabBar* PageTabBar() const { return tabs_; }

  private:
    TPageTabBar* tabs_;
    DrawTabHandler onDrawTab_;
};

// The caption of page tabIndex measured with the tab bar's font and drawn
// centred on rect: red (255, 0, 0) on the tab's own face for the active tab,
// black and two pixels lower on the control's background brush for the
// others.
void DrawPageTabCaption(TPageControl* control, QPainter& canvas, int tabIndex, const QRect& rect,
                        bool active);

}  // namespace ristova::widgets
