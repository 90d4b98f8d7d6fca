#include "ui/ControlAccess.h"

#include "ui/ClickLabel.h"
#include "ui/UpDown.h"

#include <QAccessibleWidget>

namespace {

class UpDownAccess : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit UpDownAccess(UpDown* upDown) : QAccessibleWidget(upDown, QAccessible::SpinBox) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Value ? QString::number(upDown()->value())
                                       : QAccessibleWidget::text(t);
    }
    QVariant currentValue() const override { return upDown()->value(); }
    void setCurrentValue(const QVariant& value) override { upDown()->setValue(value.toInt()); }
    QVariant maximumValue() const override { return upDown()->maximum(); }
    QVariant minimumValue() const override { return upDown()->minimum(); }
    QVariant minimumStepSize() const override { return upDown()->singleStep(); }

private:
    UpDown* upDown() const { return static_cast<UpDown*>(widget()); }
};

class ClickLabelAccess : public QAccessibleWidget {
public:
    explicit ClickLabelAccess(ClickLabel* label) : QAccessibleWidget(label, QAccessible::Button) {}

    // Named by the whole message unless the window names it better.
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return label()->fullText();
        return QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override {
        return QStringList(pressAction()) + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override {
        if (action == pressAction())
            emit label()->clicked();
        else
            QAccessibleWidget::doAction(action);
    }

private:
    ClickLabel* label() const { return static_cast<ClickLabel*>(widget()); }
};

QAccessibleInterface* controlAccess(const QString& className, QObject* object) {
    // The windows that are plain widgets are windows, not fillers.
    static const QStringList windows = {
        QStringLiteral("MainWindow"), QStringLiteral("CommsTestWindow"),
        QStringLiteral("MessageEditorWindow"), QStringLiteral("HelpWindow")};
    if (windows.contains(className))
        if (auto* window = qobject_cast<QWidget*>(object); window && window->isWindow())
            return new QAccessibleWidget(window, QAccessible::Window);
    if (className == QLatin1String("UpDown"))
        if (auto* upDown = qobject_cast<UpDown*>(object))
            return new UpDownAccess(upDown);
    if (className == QLatin1String("ClickLabel"))
        if (auto* label = qobject_cast<ClickLabel*>(object))
            return new ClickLabelAccess(label);
    return nullptr;
}

} // namespace

void installControlAccess() {
    static const bool installed = [] {
        QAccessible::installFactory(controlAccess);
        return true;
    }();
    Q_UNUSED(installed);
}
