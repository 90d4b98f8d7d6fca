#include "RecordingOperator.h"

MsgAnswer RecordingOperator::message(const QString& text, const QString& title, MsgIcon icon,
                                     MsgButtons buttons) {
    boxes_.append(Box{text, title, icon, buttons});
    if (onBox_)
        onBox_(boxes_.last());
    if (answers_.isEmpty())
        return fallback_;
    return answers_.dequeue();
}

void RecordingOperator::script(std::initializer_list<MsgAnswer> answers) {
    for (MsgAnswer a : answers)
        answers_.enqueue(a);
}
