#pragma once
// The five pictures of the monitor grid. They are painted once, at start-up,
// so that the executable carries them and needs no image files beside it.
#include <QPixmap>

namespace ristova::ui {

struct RelayPictures {
    QPixmap imgDJQON;   // 49 x 22: relay pulled in, both sides joined
    QPixmap imgDJQOFF;  // 49 x 25: relay released, bar lifted
    QPixmap imgSWON;    // 41 x 21: contact closed
    QPixmap imgSWOFF;   // 40 x 21: contact open
    QPixmap imgNone;    // 41 x 21: no such contact

    // The same picture in grey, for a state that is not confirmed; the
    // shape still shows the last known state.
    const QPixmap& Grey(const QPixmap& picture) const;

    // The set, painted on first use.
    static const RelayPictures& Get();

    QPixmap greyDJQON, greyDJQOFF, greySWON, greySWOFF;
};

}  // namespace ristova::ui
