#pragma once
// The window's font: 宋体 at 12 pixels (9 pt), with an installed CJK font in
// its place where SimSun is missing.
#include <QFont>

namespace ristova::ui {

QFont WindowFont();

}  // namespace ristova::ui
