#include "ui/Artwork.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <array>

namespace Artwork {

namespace {

QPixmap blank(QSize size, qreal dpr) {
    QPixmap pm(size * dpr);
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::transparent);
    return pm;
}

void paintDisplay(QPainter& p, const QRectF& screen);
void paintLamps(QPainter& p, const QRectF& screen, qreal lampY);

// A front view of the unit: a charcoal case, an amber two-line display
// showing an interlock message, and a row of annunciator lamps.
void paintUnit(QPainter& p, QSize size) {
    const QRectF all(QPointF(0, 0), size);
    QLinearGradient sky(all.topLeft(), all.bottomLeft());
    sky.setColorAt(0, QColor(24, 40, 72));
    sky.setColorAt(1, QColor(6, 12, 28));
    p.fillRect(all, sky);

    const QRectF body(14, 16, size.width() - 28, size.height() - 30);
    QLinearGradient metal(body.topLeft(), body.bottomLeft());
    metal.setColorAt(0, QColor(92, 96, 104));
    metal.setColorAt(1, QColor(44, 46, 52));
    p.setPen(QPen(QColor(150, 156, 166), 1.5));
    p.setBrush(metal);
    p.drawRoundedRect(body, 8, 8);

    const QRectF screen(body.left() + 14, body.top() + 14, body.width() - 28, 62);
    paintDisplay(p, screen);
    const qreal lampY = screen.bottom() + 20;
    paintLamps(p, screen, lampY);

    QFont small(QStringLiteral("DejaVu Sans"));
    small.setStyleHint(QFont::SansSerif);
    small.setBold(true);
    small.setPixelSize(10);
    p.setFont(small);
    p.setPen(QColor(220, 224, 230));
    p.drawText(QRectF(body.left() + 14, lampY + 9, body.width() - 28, 14),
               Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("QV840"));
}

// The display window with its two text lines: an interlock and its default
// message.
void paintDisplay(QPainter& p, const QRectF& screen) {
    p.setPen(QPen(QColor(20, 20, 20), 2));
    p.setBrush(QColor(18, 10, 4));
    p.drawRect(screen);

    QFont mono(QStringLiteral("DejaVu Sans Mono"));
    mono.setStyleHint(QFont::Monospace);
    mono.setBold(true);
    mono.setPixelSize(15);
    p.setFont(mono);
    const QColor amber(255, 176, 0);
    p.setPen(amber);
    const QRectF line1(screen.left() + 8, screen.top() + 6, screen.width() - 16, 24);
    const QRectF line2 = line1.translated(0, 26);
    p.drawText(line1, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("INTERLOCK 50-51"));
    p.drawText(line2, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("LOW GAS PRESSURE"));

    // A fine grid over the text suggests the unit's dot-matrix display.
    p.setPen(QPen(QColor(18, 10, 4, 90), 1));
    for (qreal x = screen.left() + 2; x < screen.right(); x += 3)
        p.drawLine(QPointF(x, screen.top() + 2), QPointF(x, screen.bottom() - 2));
    for (qreal y = screen.top() + 2; y < screen.bottom(); y += 3)
        p.drawLine(QPointF(screen.left() + 2, y), QPointF(screen.right() - 2, y));
}

// Annunciator lamps under the display: most quiet, one tripped.
void paintLamps(QPainter& p, const QRectF& screen, qreal lampY) {
    const int lamps = 10;
    const qreal pitch = (screen.width() - 8) / lamps;
    for (int i = 0; i < lamps; ++i) {
        const QPointF c(screen.left() + 4 + pitch * (i + 0.5), lampY);
        const bool tripped = i == 6;
        QRadialGradient glow(c - QPointF(1.5, 1.5), 6);
        glow.setColorAt(0, tripped ? QColor(255, 190, 190) : QColor(150, 230, 150));
        glow.setColorAt(1, tripped ? QColor(200, 0, 0) : QColor(0, 110, 0));
        p.setPen(QPen(QColor(20, 20, 20), 1));
        p.setBrush(glow);
        p.drawEllipse(c, 5, 5);
    }
}

// The link emblem: a computer and the unit joined by a two-wire line
// carrying a square-wave burst.
void paintLink(QPainter& p, QSize size) {
    const qreal h = size.height();
    const qreal w = size.width();
    p.setPen(QPen(QColor(40, 40, 40), 1.5));
    p.setBrush(QColor(210, 214, 220));
    p.drawRoundedRect(QRectF(2, h * 0.2, 28, h * 0.6), 3, 3);
    p.setBrush(QColor(60, 64, 72));
    p.drawRoundedRect(QRectF(w - 30, h * 0.2, 28, h * 0.6), 3, 3);
    p.setBrush(QColor(255, 176, 0));
    p.setPen(Qt::NoPen);
    p.drawRect(QRectF(w - 26, h * 0.3, 20, h * 0.18));

    QPainterPath wave;
    const qreal left = 34;
    const qreal right = w - 34;
    const qreal hi = h * 0.32;
    const qreal lo = h * 0.68;
    const std::array<int, 12> bits = {1, 0, 1, 1, 0, 0, 1, 0, 1, 0, 0, 1};
    const qreal step = (right - left) / static_cast<qreal>(bits.size());
    qreal y = lo;
    wave.moveTo(left, y);
    for (size_t i = 0; i < bits.size(); ++i) {
        const qreal next = bits[i] ? hi : lo;
        const qreal x = left + step * static_cast<qreal>(i);
        wave.lineTo(x, y);
        wave.lineTo(x, next);
        y = next;
    }
    wave.lineTo(right, y);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0, 150, 60), 2));
    p.drawPath(wave);
}

} // namespace

QSize splashPictureSize(int index) {
    return index == 0 ? QSize(266, 168) : QSize(150, 36);
}

QPixmap splashPicture(int index, qreal devicePixelRatio) {
    const QSize size = splashPictureSize(index);
    QPixmap pm = blank(size, devicePixelRatio);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    if (index == 0)
        paintUnit(p, size);
    else
        paintLink(p, size);
    return pm;
}

QColor mdmLightColor(int index) {
    static const std::array<QColor, 4> colors = {QColor(0x00, 0x80, 0x00), QColor(0x00, 0xFF, 0x00),
                                                 QColor(0x80, 0x00, 0x00),
                                                 QColor(0xFF, 0x00, 0x00)};
    return colors[static_cast<size_t>(qBound(0, index, 3))];
}

QPixmap mdmLight(int index, qreal devicePixelRatio) {
    QPixmap pm = blank(QSize(kLampSize, kLampSize), devicePixelRatio);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    // A flat disc in the exact lamp colour with a dark rim; the centre pixel
    // is the pure colour, so the state can be read off the picture.
    p.setPen(QPen(QColor(32, 32, 32), 1));
    p.setBrush(mdmLightColor(index));
    p.drawEllipse(QRectF(0.5, 0.5, kLampSize - 1, kLampSize - 1));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 110));
    p.drawEllipse(QRectF(3, 2.5, 3, 2.5));
    return pm;
}

} // namespace Artwork
