#include "run/ui/RelayPictures.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>

namespace ristova::ui {

namespace {

const QColor kRed(255, 0, 0);
const QColor kBlack(0, 0, 0);

// A picture with a transparent background, drawn transparently onto the grid.
QPixmap Blank(int w, int h) {
    QPixmap pm(w, h);
    pm.fill(Qt::transparent);
    return pm;
}

// A terminal: a small ring.
void Terminal(QPainter& p, QPointF centre, const QColor& colour) {
    p.setPen(QPen(colour, 1.6));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(centre, 3.0, 3.0);
}

void Lead(QPainter& p, qreal x1, qreal x2, qreal y, const QColor& colour) {
    p.setPen(QPen(colour, 2.0, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(x1, y), QPointF(x2, y));
}

// Relay: a coil box in the middle, terminals on both sides and the armature
// bar above; pulled in, the bar lies on both terminals.
QPixmap Relay(bool on) {
    const int w = 49;
    const int h = on ? 22 : 25;
    QPixmap pm = Blank(w, h);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal y = h - 7.5;
    const QColor side = on ? kRed : kBlack;
    Lead(p, 0.5, 6.5, y, side);
    Lead(p, w - 6.5, w - 0.5, y, side);
    Terminal(p, QPointF(10.0, y), side);
    Terminal(p, QPointF(w - 10.0, y), side);
    // Coil.
    p.setPen(QPen(side, 1.4));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(18.5, y - 2.5, 12.0, 7.0));
    p.drawLine(QPointF(18.5, y + 4.5), QPointF(30.5, y - 2.5));
    // Armature bar.
    p.setPen(QPen(kRed, 2.4, Qt::SolidLine, Qt::RoundCap));
    if (on) {
        p.drawLine(QPointF(10.0, y - 4.0), QPointF(w - 10.0, y - 4.0));
        p.drawLine(QPointF(10.0, y - 4.0), QPointF(10.0, y - 3.0));
        p.drawLine(QPointF(w - 10.0, y - 4.0), QPointF(w - 10.0, y - 3.0));
    } else {
        p.drawLine(QPointF(10.0, y - 4.0), QPointF(w - 12.0, 2.0));
    }
    return pm;
}

// Switch contact: two terminals and the blade from the left one.
QPixmap Switch(int w, bool closed) {
    const int h = 21;
    QPixmap pm = Blank(w, h);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal y = 14.5;
    const QColor colour = closed ? kRed : kBlack;
    Lead(p, 0.5, 5.5, y, colour);
    Lead(p, w - 5.5, w - 0.5, y, colour);
    Terminal(p, QPointF(9.0, y), colour);
    Terminal(p, QPointF(w - 9.0, y), colour);
    p.setPen(QPen(colour, 2.2, Qt::SolidLine, Qt::RoundCap));
    if (closed)
        p.drawLine(QPointF(11.5, y - 1.5), QPointF(w - 9.0, y - 3.0));
    else
        p.drawLine(QPointF(11.5, y - 1.5), QPointF(w - 12.0, 2.0));
    return pm;
}

QPixmap NoContact() {
    const int w = 41;
    const int h = 21;
    QPixmap pm = Blank(w, h);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal y = 14.5;
    Lead(p, 0.5, 5.5, y, kBlack);
    Lead(p, w - 5.5, w - 0.5, y, kBlack);
    Terminal(p, QPointF(9.0, y), kBlack);
    Terminal(p, QPointF(w - 9.0, y), kBlack);
    p.setPen(QPen(kRed, 2.0, Qt::SolidLine, Qt::RoundCap));
    const QPointF c(w / 2.0, 10.5);
    p.drawLine(c + QPointF(-5, -5), c + QPointF(5, 5));
    p.drawLine(c + QPointF(-5, 5), c + QPointF(5, -5));
    return pm;
}

// Light grey with the picture's own coverage, so its edges stay smooth.
QPixmap Greyed(const QPixmap& picture) {
    QImage image = picture.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() > 0) image.setPixelColor(x, y, QColor(160, 160, 160, c.alpha()));
        }
    }
    return QPixmap::fromImage(image);
}

}  // namespace

const QPixmap& RelayPictures::Grey(const QPixmap& picture) const {
    if (&picture == &imgDJQON) return greyDJQON;
    if (&picture == &imgDJQOFF) return greyDJQOFF;
    if (&picture == &imgSWON) return greySWON;
    if (&picture == &imgSWOFF) return greySWOFF;
    return picture;
}

const RelayPictures& RelayPictures::Get() {
    static const RelayPictures pictures = [] {
        RelayPictures p{Relay(true), Relay(false), Switch(41, true), Switch(40, false),
                        NoContact(), {}, {}, {}, {}};
        p.greyDJQON = Greyed(p.imgDJQON);
        p.greyDJQOFF = Greyed(p.imgDJQOFF);
        p.greySWON = Greyed(p.imgSWON);
        p.greySWOFF = Greyed(p.imgSWOFF);
        return p;
    }();
    return pictures;
}

}  // namespace ristova::ui
