// The printed sheet, as the texts it draws and where: a paint device that
// records each text with its height on the page.
#include "sheet/Sheet.h"

#include <QPaintEngine>
#include <QPainter>
#include <QtTest>

namespace {

struct DrawnText {
    QString text;
    double y;
};

class RecordingEngine : public QPaintEngine {
public:
    QList<DrawnText> texts;
    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState&) override {}
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
    void drawPolygon(const QPointF*, int, PolygonDrawMode) override {}
    void drawTextItem(const QPointF& p, const QTextItem& item) override {
        texts.append({item.text(), painter()->transform().map(p).y()});
    }
    Type type() const override { return User; }
};

// An A4 page inside its margins, 0.1 mm a unit.
class RecordingPage : public QPaintDevice {
public:
    mutable RecordingEngine engine;
    QPaintEngine* paintEngine() const override { return &engine; }
    int metric(PaintDeviceMetric m) const override {
        if (m == PdmDevicePixelRatioScaled)
            return int(devicePixelRatioFScale());
        const QMap<PaintDeviceMetric, int> page{{PdmWidth, 1800},       {PdmHeight, 2670},
                                                {PdmDpiX, 254},         {PdmDpiY, 254},
                                                {PdmPhysicalDpiX, 254}, {PdmPhysicalDpiY, 254},
                                                {PdmDepth, 32},         {PdmDevicePixelRatio, 1}};
        return page.value(m);
    }
};

QList<DrawnText> drawn(const SheetInfo& info) {
    RecordingPage page;
    QPainter painter(&page);
    paintSheet(painter, info);
    painter.end();
    return page.engine.texts;
}

} // namespace

class TestSheet : public QObject {
    Q_OBJECT
private slots:
    // The site given is printed under the title, above the first group; without one the
    // sheet is as before, and nothing mentions a site.
    void siteNameInTheHeader() {
        SheetInfo info;
        info.messages.fill("LOW GAS PRESSURE");
        info.siteName = "Boiler house 2\x1B";
        const QList<DrawnText> with = drawn(info);
        QVERIFY(with.size() > 3);
        QCOMPARE(with[0].text, "QV840 Interlock Annunciator Table");
        QCOMPARE(with[1].text, "Site: Boiler house 2\\x1B"); // a control character as \xHH
        QVERIFY(with[0].y < with[1].y && with[1].y < with[2].y);
        QCOMPARE(with[2].text, "Recycle, L1-3");
        QVERIFY(with.last().y < 2670); // still one page

        info.siteName.clear();
        const QList<DrawnText> without = drawn(info);
        QCOMPARE(without.size(), with.size() - 1);
        QCOMPARE(without[1].text, "Recycle, L1-3");
    }
};

QTEST_MAIN(TestSheet)
#include "test_sheet.moc"
