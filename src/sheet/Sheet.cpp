#include "sheet/Sheet.h"

#include "startup/Interlocks.h"
#include "startup/MessageText.h"
#include "startup/TextFile.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QLocale>
#include <QPainter>
#include <QPdfWriter>

namespace {

// The layout is in tenths of a millimetre, inside the device's own margins:
// about 1800 x 2670 on A4, 1860 x 2490 on Letter. The groups come one under
// the other at the full width, in the window's order, so that every message
// fits at a size read at a glance: the whole sheet takes about 225 mm.
constexpr double kTitle = 70;     // title text height
constexpr double kCaption = 40;   // group caption text height
constexpr double kText = 40;      // row text height, unless a message needs less
constexpr double kRow = 70;       // row pitch
constexpr double kTerminal = 220; // terminal column width
constexpr double kGroupGap = 40;
constexpr double kPad = 20; // text inset in its box

QFont sheetFont(double height, bool bold) {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(qMax(1, int(height)));
    f.setBold(bold);
    return f;
}

// The largest height up to maxHeight at which every text fits width.
int fittingHeight(const QStringList& texts, double width, double maxHeight, bool bold) {
    QFont f = sheetFont(maxHeight, bold);
    for (const QString& t : texts)
        while (f.pixelSize() > 8 && QFontMetricsF(f).horizontalAdvance(t) > width)
            f.setPixelSize(f.pixelSize() - 1);
    return f.pixelSize();
}

// Draws text inside box at height, or smaller where it would not fit: a text
// is never cut.
void drawFitted(QPainter& p, const QRectF& box, const QString& text, double height, int flags,
                bool bold = false) {
    const QRectF inner = box.adjusted(kPad, 0, -kPad, 0);
    p.setFont(sheetFont(fittingHeight({text}, inner.width(), height, bold), bold));
    p.drawText(inner, flags | Qt::TextSingleLine, text);
}

// One group: its caption bar, then a row per interlock. Returns the height.
double paintGroup(QPainter& p, const InterlockGroup& g, const SheetInfo& info, double y,
                  double width, double textHeight) {
    p.setPen(QPen(Qt::black, 4));
    p.setBrush(QColor(220, 220, 220));
    const QRectF bar(0, y, width, kCaption * 1.6);
    p.drawRect(bar);
    drawFitted(p, bar, g.caption, kCaption, Qt::AlignLeft | Qt::AlignVCenter, true);
    double top = bar.bottom();
    for (int k : g.indices) {
        const QRectF terminal(0, top, kTerminal, kRow);
        const QRectF message(kTerminal, top, width - kTerminal, kRow);
        p.setPen(QPen(Qt::black, 3));
        p.setBrush(QColor(240, 240, 240));
        p.drawRect(terminal);
        p.setBrush(Qt::white);
        p.drawRect(message);
        drawFitted(p, terminal, terminalCaption(k), kText, Qt::AlignCenter, true);
        drawFitted(p, message, MessageText::escaped(info.messages[size_t(k)]), textHeight,
                   Qt::AlignLeft | Qt::AlignVCenter);
        top += kRow;
    }
    return top - y;
}

// The title, and under it the site when one is given. Returns the height.
double paintHeader(QPainter& p, const SheetInfo& info, double width) {
    drawFitted(p, QRectF(-kPad, 0, width + 2 * kPad, kTitle * 1.5),
               QStringLiteral("QV840 Interlock Annunciator Table"), kTitle,
               Qt::AlignLeft | Qt::AlignVCenter, true);
    double y = kTitle * 1.5;
    if (!info.siteName.isEmpty()) {
        drawFitted(p, QRectF(-kPad, y, width + 2 * kPad, kText * 1.6),
                   QStringLiteral("Site: %1").arg(MessageText::escaped(info.siteName)), kText,
                   Qt::AlignLeft | Qt::AlignVCenter, true);
        y += kText * 1.6;
    }
    return y;
}

} // namespace

void paintSheet(QPainter& painter, const SheetInfo& info) {
    QPaintDevice* device = painter.device();
    const double scale = device->logicalDpiX() / 254.0; // device pixels per 0.1 mm
    const double width = device->width() / scale;
    painter.save();
    painter.scale(scale, device->logicalDpiY() / 254.0);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::black);

    double y = paintHeader(painter, info, width) + kGroupGap;

    // One text height for every message: the largest at which all of them fit.
    QStringList messages;
    for (int k = 0; k < kInterlockCount; ++k)
        messages << MessageText::escaped(info.messages[size_t(k)]);
    const int textHeight = fittingHeight(messages, width - kTerminal - 2 * kPad, kText, false);
    for (const InterlockGroup& g : interlockGroups())
        y += paintGroup(painter, g, info, y, width, textHeight) + kGroupGap;

    // Where the table went or came from.
    const auto orDash = [](const QString& s) { return s.isEmpty() ? QStringLiteral("-") : s; };
    const QStringList lines = {
        QStringLiteral("Unit address: %1")
            .arg(info.unitAddress < 0 ? QStringLiteral("-") : QString::number(info.unitAddress)),
        QStringLiteral("Port: %1").arg(orDash(info.port)),
        QStringLiteral("Date: %1").arg(info.when.toString(QStringLiteral("yyyy-MM-dd HH:mm"))),
        QStringLiteral("File: %1").arg(orDash(info.fileName)),
    };
    painter.setPen(QPen(Qt::black, 4));
    painter.drawLine(QPointF(0, y), QPointF(width, y));
    y += 20;
    for (const QString& line : lines) {
        drawFitted(painter, QRectF(-kPad, y, width + 2 * kPad, kText * 1.6), line, kText,
                   Qt::AlignLeft | Qt::AlignVCenter);
        y += kText * 1.6;
    }
    painter.restore();
}

QPageSize::PageSizeId defaultSheetPaper() {
    return QLocale::system().measurementSystem() == QLocale::MetricSystem ? QPageSize::A4
                                                                          : QPageSize::Letter;
}

bool writeSheetPdf(const QString& path, const SheetInfo& info, QPageSize::PageSizeId paper,
                   QString* why) {
    const auto fail = [why](const QString& text) {
        if (why)
            *why = text;
        return false;
    };
    // Drawn into memory first: the file is written whole or not at all.
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter pdf(&buffer);
        pdf.setTitle(QStringLiteral("QV840 Interlock Annunciator Table"));
        pdf.setCreator(QStringLiteral("QV840N"));
        pdf.setResolution(300);
        pdf.setPageSize(QPageSize(paper));
        pdf.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
        QPainter painter;
        if (!painter.begin(&pdf))
            return fail(QStringLiteral("the PDF cannot be started"));
        paintSheet(painter, info);
        painter.end();
    }
    if (const auto problem = writeWholeFile(path, buffer.data()))
        return fail(*problem);
    return true;
}
