#pragma once

#include <QLabel>

// A message label: a click (or Space/Enter when it has the focus) opens the
// editor for its interlock; to a screen reader it is a button that does the
// same (ui/ControlAccess.h). A text a little wider than the label is drawn
// smaller; one wider still ends in "…" and the tooltip holds all of it.
class ClickLabel : public QLabel {
    Q_OBJECT
public:
    explicit ClickLabel(QWidget* parent = nullptr);

    void setFullText(const QString& text);
    QString fullText() const { return fullText_; }
    bool elided() const { return text() != fullText_; }

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void elide();
    QString fullText_;
};
