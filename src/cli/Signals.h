#pragma once
// SIGINT, SIGTERM (and SIGHUP where asked) reach the event loop through a
// socket pair: the handler only writes the signal's number, and the watch
// emits caught() from the loop, so the work under way ends on its normal path.

#include <QObject>

#include <initializer_list>

class QSocketNotifier;

class SignalWatch : public QObject {
    Q_OBJECT
public:
    // Catches sigs until destroyed; ok() is false when the pair cannot be made.
    explicit SignalWatch(std::initializer_list<int> sigs, QObject* parent = nullptr);
    ~SignalWatch() override;
    bool ok() const { return notifier_ != nullptr; }
    // The first signal caught, even before the event loop has seen it; 0 for none.
    static int first();
    // As if sig had been caught: a stdout whose reader has gone (SIGPIPE,
    // which the program ignores so that the write fails with EPIPE) ends the
    // command under way as Ctrl+C would.
    static void deliver(int sig);
    // The status a command stopped by sig exits with: 130 for SIGINT, 143 for
    // SIGTERM, 129 for SIGHUP (the terminal closed).
    static int exitStatus(int sig) { return 128 + sig; }
    // "SIGINT", "SIGTERM", "SIGHUP", for the message that says what stopped a command.
    static QString name(int sig);

signals:
    void caught(int sig);

private:
    QSocketNotifier* notifier_ = nullptr;
    QList<int> sigs_;
};
