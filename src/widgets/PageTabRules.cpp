#include "widgets/PageTabRules.h"

namespace ristova::widgets {

BtnPoint TabCaptionOrigin(const BtnRect& tab, int tw, int th, bool active) {
    // C++ division truncates toward zero, which is the rule for odd sums and
    // for captions wider than the tab.
    BtnPoint origin{(tab.left + tab.right - tw) / 2, (tab.top + tab.bottom - th) / 2};
    if (!active) origin.y += 2;
    return origin;
}

}  // namespace ristova::widgets
