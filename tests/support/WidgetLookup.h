#pragma once
// The windows keep their controls to themselves; a test reaches one by its
// object name. child<QPushButton>(window, "readAllButton") is the one object of
// that name among the window's descendants, and a QPushButton. None, more than
// one, or one of another type fails the test at the line that asked, and ends
// the program there: every step after it would act on nothing. (It must also
// work inside the handlers the tests schedule, where no exception may pass.)

#include <QList>
#include <QObject>
#include <QString>
#include <QTest>

namespace widget_lookup {

inline QString describe(const QObject& o) {
    const QString type = QString::fromLatin1(o.metaObject()->className());
    return o.objectName().isEmpty() ? type : type + QStringLiteral(" \"%1\"").arg(o.objectName());
}

[[noreturn]] inline void fail(const QString& why, const char* file, int line) {
    QTest::qFail(qPrintable(why), file, line);
    qFatal(
        "%s",
        qPrintable(QStringLiteral("%1(%2): %3").arg(QString::fromLatin1(file)).arg(line).arg(why)));
}

} // namespace widget_lookup

template <class W>
W* child(const QObject& parent, const QString& name, const char* file = __builtin_FILE(),
         int line = __builtin_LINE()) {
    const QList<QObject*> named = parent.findChildren<QObject*>(name);
    W* w = named.size() == 1 ? qobject_cast<W*>(named.constFirst()) : nullptr;
    if (w)
        return w;
    const QString wanted = QStringLiteral("%1 named \"%2\" in %3")
                               .arg(QString::fromLatin1(W::staticMetaObject.className()), name,
                                    widget_lookup::describe(parent));
    if (named.isEmpty())
        widget_lookup::fail(QStringLiteral("No ") + wanted, file, line);
    if (named.size() > 1)
        widget_lookup::fail(QStringLiteral("%1 objects for one %2").arg(named.size()).arg(wanted),
                            file, line);
    widget_lookup::fail(QStringLiteral("A %1 in place of the %2")
                            .arg(widget_lookup::describe(*named.constFirst()), wanted),
                        file, line);
}

// The same in a window known by pointer, which must be there.
template <class W>
W* child(const QObject* parent, const QString& name, const char* file = __builtin_FILE(),
         int line = __builtin_LINE()) {
    if (!parent)
        widget_lookup::fail(QStringLiteral("No window to look for \"%1\" in").arg(name), file,
                            line);
    return child<W>(*parent, name, file, line);
}
