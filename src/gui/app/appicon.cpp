#include "app/appicon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace tarnhold::gui {

namespace {

// The picture of app/tarnhold.svg on a 64 x 64 grid: a blue tile, a globe
// and an orange arrow carrying a page down into a tray.
QPixmap Paint(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);

    QLinearGradient tile(0, 0, 0, 64);
    tile.setColorAt(0, QColor(0x3b, 0x82, 0xc4));
    tile.setColorAt(1, QColor(0x1d, 0x4e, 0x89));
    p.setPen(Qt::NoPen);
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);

    QPen globe(QColor(0xff, 0xff, 0xff, 0xe0), 2.5);
    p.setPen(globe);
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(10, 8, 30, 30));
    p.drawEllipse(QRectF(18, 8, 14, 30));
    p.drawLine(QPointF(10, 23), QPointF(40, 23));

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xf5, 0x9e, 0x0b));
    QPainterPath arrow;
    arrow.moveTo(40, 26);
    arrow.lineTo(48, 26);
    arrow.lineTo(48, 38);
    arrow.lineTo(54, 38);
    arrow.lineTo(44, 49);
    arrow.lineTo(34, 38);
    arrow.lineTo(40, 38);
    arrow.closeSubpath();
    p.drawPath(arrow);

    QPen tray(QColor(0xff, 0xff, 0xff), 3.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(tray);
    QPainterPath box;
    box.moveTo(12, 44);
    box.lineTo(12, 54);
    box.lineTo(56, 54);
    box.lineTo(56, 44);
    p.drawPath(box);
    return pixmap;
}

} // namespace

QIcon AppIcon() {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(Paint(size));
    return icon;
}

} // namespace tarnhold::gui
