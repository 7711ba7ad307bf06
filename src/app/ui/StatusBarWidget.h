#pragma once
// The status bar SB: four sunken panels of fixed widths, the last reaching
// to the right edge, showing the texts of the core's StatusBar.
#include <QWidget>
#include <cstdint>

#include "base/StatusBar.h"

namespace ristova::ui {

class StatusBarWidget : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kHeight = 19;

    StatusBarWidget(const StatusBar& bar, QWidget* parent = nullptr);
    // Repaints when the texts changed since the last call.
    void Sync();
    // The panel's rectangle in widget coordinates.
    QRect PanelRect(int panel) const;
    QString PanelText(int panel) const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    const StatusBar& bar_;
    std::uint64_t seen_ = ~std::uint64_t{0};
};

}  // namespace ristova::ui
