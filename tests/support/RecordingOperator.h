#pragma once
// An Operator that records every box and answers from a script: each box takes
// the next scripted answer, and Ok once the script has run out.

#include "startup/Operator.h"

#include <QQueue>
#include <QVector>
#include <functional>

class RecordingOperator : public Operator {
public:
    struct Box {
        QString text;
        QString title;
        MsgIcon icon = MsgIcon::None;
        MsgButtons buttons = MsgButtons::Ok;
    };

    MsgAnswer message(const QString& text, const QString& title, MsgIcon icon,
                      MsgButtons buttons) override;

    void script(std::initializer_list<MsgAnswer> answers);
    void answerAlways(MsgAnswer a) { fallback_ = a; }
    // Runs while each box is "open", before it answers: tests look at the
    // state the operator would see then.
    void onBox(std::function<void(const Box&)> f) { onBox_ = std::move(f); }

    const QVector<Box>& boxes() const { return boxes_; }
    int count() const { return boxes_.size(); }
    Box last() const { return boxes_.isEmpty() ? Box{} : boxes_.last(); }
    void clear() { boxes_.clear(); }

private:
    QVector<Box> boxes_;
    QQueue<MsgAnswer> answers_;
    MsgAnswer fallback_ = MsgAnswer::Ok;
    std::function<void(const Box&)> onBox_;
};
