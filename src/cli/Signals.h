#pragma once
// SIGINT, SIGTERM (and SIGHUP where asked) reach the event loop: the handler
// only passes the signal's number on, and the watch emits caught() from the
// loop, so the work under way ends on its normal path. On Linux through a
// socket pair; on Windows the console's events stand for the signals (Ctrl+C
// and Ctrl+Break for SIGINT, the console window closing for the hang-up, log
// off and shut down for SIGTERM) and come through an event object.

#include <QObject>

#include <csignal>
#include <initializer_list>

// The hang-up: SIGHUP on Linux; Windows has no such signal, and the number
// stands for its console window closing.
#ifdef SIGHUP
constexpr int kSigHangUp = SIGHUP;
#else
constexpr int kSigHangUp = 1;
#endif
// A stdout whose reader has gone: SIGPIPE on Linux; on Windows the number
// stands for the failed write alone.
#ifdef SIGPIPE
constexpr int kSigPipe = SIGPIPE;
#else
constexpr int kSigPipe = 13;
#endif

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
    QObject* notifier_ = nullptr; // the system's notifier, which brings the number in
    QList<int> sigs_;
};
