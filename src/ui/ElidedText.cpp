#include "ui/ElidedText.h"

#include <QEvent>
#include <QLabel>

namespace {

constexpr const char* kElidedProperty = "qvElidedText";

// The label's whole text, from its tooltip, cut to the room it has.
void cutToWidth(QLabel* label) {
    const QFontMetrics metrics = label->fontMetrics();
    // A framed label without an indent of its own indents by half an "x".
    int indent = label->indent();
    if (indent < 0)
        indent = label->frameWidth() > 0 ? metrics.horizontalAdvance(QLatin1Char('x')) / 2 : 0;
    const int room = label->contentsRect().width() - 2 * label->margin() - indent;
    label->setText(metrics.elidedText(label->toolTip(), Qt::ElideRight, qMax(room, 0)));
}

class CutOnResize : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize)
            cutToWidth(static_cast<QLabel*>(watched));
        return false;
    }
};

} // namespace

void setElidedText(QLabel* label, const QString& text) {
    if (!label->property(kElidedProperty).toBool()) {
        label->setProperty(kElidedProperty, true);
        label->setSizePolicy(QSizePolicy::Ignored, label->sizePolicy().verticalPolicy());
        label->installEventFilter(new CutOnResize(label));
    }
    label->setToolTip(text);
    cutToWidth(label);
}
