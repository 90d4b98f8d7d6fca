#pragma once
// Whole files for the tests: what one holds, and one made to hold given bytes.

#include <QByteArray>
#include <QFile>
#include <QString>

// What the file holds; "<missing>" when it cannot be read.
inline QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// The file made to hold bytes and nothing else; false when they did not go in whole.
inline bool putFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}
