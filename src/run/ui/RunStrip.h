#pragma once
// The strip above the monitor grid while several controllers run together:
// each run's name, lamp and line state; a click picks the run the page shows.
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "run/RunView.h"

namespace ristova::ui {

class RunStrip : public QWidget {
    Q_OBJECT
  public:
    using Picked = std::function<void(const std::string& file)>;
    static constexpr int kHeight = 22;

    RunStrip(run::SiteView& site, Picked picked, QWidget* parent = nullptr);

    // The run shown is drawn pressed in.
    void SetShown(const std::string& file);
    // Repaints when a run changed.
    void Sync();
    // An entry's place, for tests and clicks; empty when there is none.
    QRect EntryRect(const std::string& file) const;
    // The line state's words for a run: 正常, 通信中断, 无应答, 已停止.
    static QString LineText(const run::RunView& run);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

  private:
    std::vector<std::pair<std::string, QRect>> Layout() const;

    run::SiteView& site_;
    Picked picked_;
    std::string shown_;
    std::uint64_t seen_ = ~std::uint64_t{0};
};

}  // namespace ristova::ui
