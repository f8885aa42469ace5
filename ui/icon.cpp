// The program's icon, drawn in code.
#include "ui/icon.h"

#include <QPainter>
#include <QPixmap>

namespace mivex::ui {

// Two sheets with an arrow between them: a file on its way somewhere. Drawn on a 16-unit grid,
// so every size is the same picture.
QImage drawIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal u = size / 16.0;
    p.setPen(QPen(QColor(40, 40, 40), qMax(1.0, u * 0.75)));
    p.setBrush(QColor(250, 250, 235));
    p.drawRect(QRectF(1 * u, 1 * u, 7 * u, 9 * u));
    p.setBrush(QColor(255, 220, 90));
    p.drawRect(QRectF(8 * u, 6 * u, 7 * u, 9 * u));
    p.setPen(QPen(QColor(20, 90, 200), qMax(1.5, u * 1.5), Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(3 * u, 12 * u), QPointF(6.5 * u, 12 * u));
    p.drawLine(QPointF(5 * u, 10.5 * u), QPointF(6.5 * u, 12 * u));
    p.drawLine(QPointF(5 * u, 13.5 * u), QPointF(6.5 * u, 12 * u));
    return image;
}

QIcon programIcon() {
    QIcon icon;
    for (const int size : kIconSizes) {
        icon.addPixmap(QPixmap::fromImage(drawIcon(size)));
    }
    return icon;
}

}  // namespace mivex::ui
