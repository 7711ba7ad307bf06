#pragma once
// Shared by the widget tests: the application object (created once for the
// whole binary, offscreen) and pixel helpers over rendered widgets.
#include <QColor>
#include <QImage>
#include <QRect>
#include <QWidget>
#include <functional>
#include <set>
#include <utility>

namespace ristova::widgets::test {

// The colour a test pre-fills behind a widget, so that untouched pixels show.
inline const QColor kBehind(0, 128, 255);

// Renders w alone (no background of its own) onto kBehind.
QImage RenderOnBehind(QWidget* w);

// Pixels of exactly colour c inside area (all of the image when null).
std::set<std::pair<int, int>> PixelsOf(const QImage& image, const QColor& c, QRect area = {});

// Bounding box of a pixel set; null for an empty set.
QRect Bounds(const std::set<std::pair<int, int>>& pixels);

std::set<std::pair<int, int>> Shifted(const std::set<std::pair<int, int>>& pixels, int dx, int dy);

// A CJK font without antialiasing, so that text pixels are exactly one colour.
QFont CrispFont(int pixelSize);

}  // namespace ristova::widgets::test
