#pragma once
// Bytes a test's unit sends, delayMs after the previous chunk (the first
// after the request).

#include <QByteArray>

struct Chunk {
    int delayMs;
    QByteArray bytes;
};
