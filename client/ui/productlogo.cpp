#include "client/ui/productlogo.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>

namespace kestro::ui {

QPixmap productLogo(int height) {
    const int width = height * 4;
    QPixmap pixmap(width, height);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, width, height);
    g.setColorAt(0, QColor(0x1f, 0x4e, 0x8c));
    g.setColorAt(1, QColor(0x2f, 0x8f, 0xc9));
    p.setBrush(g);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(0, 0, width, height), height / 6.0, height / 6.0);
    // A stylised sheet with a folded corner, then the product name.
    const qreal s = height * 0.6, x = height * 0.2, y = height * 0.2;
    p.setBrush(Qt::white);
    QPolygonF sheet;
    sheet << QPointF(x, y) << QPointF(x + s * 0.55, y) << QPointF(x + s * 0.75, y + s * 0.2)
          << QPointF(x + s * 0.75, y + s) << QPointF(x, y + s);
    p.drawPolygon(sheet);
    p.setPen(Qt::white);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    font.setPixelSize(int(height * 0.34));
    p.setFont(font);
    p.drawText(QRectF(height * 1.05, 0, width - height * 1.1, height),
               Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("KestroFTP"));
    return pixmap;
}

} // namespace kestro::ui
