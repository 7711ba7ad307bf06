#pragma once
// Where an owner-drawn page tab puts its caption.
#include "widgets/TransBtnRules.h"

namespace ristova::widgets {

// Top-left of a tw x th caption on a tab (right and bottom exclusive):
// centred with truncating division; the inactive tabs sit two pixels lower,
// so the selected page's caption stands out.
BtnPoint TabCaptionOrigin(const BtnRect& tab, int tw, int th, bool active);

}  // namespace ristova::widgets
