#include "base/StatusBar.h"

namespace ristova {

StatusBar::StatusBar()
    : panels_{" 2012-02-16", " 00:00:00", " 欢迎使用Quelmar电源控制管理程序", ""} {}

void StatusBar::ShowStatus(int panel, const std::string& text) {
    if (panel < 0 || panel >= kPanelCount) return;
    panels_[panel] = " " + text;
    ++revision_;
}

const std::string& StatusBar::Panel(int panel) const {
    static const std::string empty;
    if (panel < 0 || panel >= kPanelCount) return empty;
    return panels_[panel];
}

}  // namespace ristova
