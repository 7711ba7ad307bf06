#pragma once
// The window's font: 宋体 at 12 pixels (9 pt); where SimSun is missing, the
// installed CJK font whose widths are SimSun's (fonts-wqy-zenhei's Mono face).
#include <QFont>

namespace ristova::ui {

QFont WindowFont();

}  // namespace ristova::ui
