#pragma once

#include <QElapsedTimer>
#include <QWidget>

class QToolButton;

// An up-down control: two arrow buttons stepping a value within a range. The
// value itself is shown by a label beside it, as the windows want it.
class UpDown : public QWidget {
    Q_OBJECT
public:
    explicit UpDown(QWidget* parent = nullptr);

    void setRange(int minimum, int maximum);
    void setSingleStep(int step) { step_ = step; }
    int minimum() const { return min_; }
    int maximum() const { return max_; }
    int singleStep() const { return step_; }
    int value() const { return value_; }
    // Clamped to the range; valueChanged only when the value changes.
    void setValue(int value);
    void stepUp() { setValue(value_ + step_); }
    void stepDown() { setValue(value_ - step_); }
    // Digits typed in quick succession set the value (2, then 7: 27).
    void setTypedDigits(bool on) { typedDigits_ = on; }

    QToolButton* upButton() const { return up_; }
    QToolButton* downButton() const { return down_; }

signals:
    void valueChanged(int value);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void updateButtons();
    QToolButton* up_;
    QToolButton* down_;
    int min_ = 0;
    int max_ = 99;
    int step_ = 1;
    int value_ = 0;
    bool typedDigits_ = false;
    int typed_ = 0;
    // Digits typed within this of each other make one number ("1", "2": 12).
    static constexpr int kTypingPauseMs = 1500;
    QElapsedTimer typedAt_;
};
