#pragma once
// What the window tests share: the application folder they run from, and a step taken on a
// modal window once it is up, while the code that opened it waits in its own event loop.

#include <QApplication>
#include <QDialog>
#include <QTest>
#include <QTimer>

#include <functional>

// The folder of the built program, with its start-up files and help.
inline QString appFolder() {
    return qEnvironmentVariable("QV_APP_DIR", qApp->applicationDirPath() + "/..");
}

// Runs f on the next modal window of type W, once it is up. When another stays up instead
// for seconds, the test fails and that dialog is closed, so that the test goes on.
template <typename W> void whenModal(std::function<void(W*)> f, int triesLeft = 1000) {
    QTimer::singleShot(5, [f, triesLeft] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* w = qobject_cast<W*>(modal))
            return f(w);
        if (triesLeft > 0)
            return whenModal<W>(f, triesLeft - 1);
        QTest::qFail(qPrintable(QStringLiteral("no %1 came").arg(W::staticMetaObject.className())),
                     __FILE__, __LINE__);
        if (auto* d = qobject_cast<QDialog*>(modal))
            d->reject();
    });
}
