#pragma once
// The link's one kind of wait, shared by its files (not part of the link's
// interface): a local event loop ended by a precise timer, by the port's
// failure, by quit() when what it waited for has happened, by requestStop()
// when it is stoppable, and by a deadline when one is set.

#include "link/Link.h"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <functional>

// One wait of the link: a local event loop ended by the timer, by the port's
// failure, or by quit() when what it waited for has happened; a stoppable one
// also by requestStop(), and one with a deadline by that. The timers are
// single-shot and precise, so a 500 ms wait never ends at 475 ms.
class Link::Wait {
public:
    enum class End { Bytes, TimedOut, Failed, Stopped };

    // watchPort: a closed or failing port ends the wait early.
    explicit Wait(Link& link, bool watchPort = true, bool stoppable = false)
        : link_(link), watchPort_(watchPort), stoppable_(stoppable) {
        for (QTimer* t : {&timer_, &deadline_}) {
            t->setTimerType(Qt::PreciseTimer);
            t->setSingleShot(true);
        }
        QObject::connect(&timer_, &QTimer::timeout, &loop_, [this] { onTimer(); });
        // What is still coming at the deadline is cut off there; what came
        // before it counts.
        QObject::connect(&deadline_, &QTimer::timeout, &loop_, [this] {
            if (beforeEnd_)
                beforeEnd_();
            if (finished_)
                return;
            if (link_.timedOut_ == 0)
                pastDeadline_ = true;
            link_.timedOut_ = 1;
            loop_.quit();
        });
        QObject::connect(&link_.port_, &SerialPort::failed, &loop_, [this] {
            failed_ = true;
            loop_.quit();
        });
        if (stoppable_)
            QObject::connect(&link_, &Link::stopAsked, &loop_, &QEventLoop::quit);
    }

    Wait(const Wait&) = delete;
    Wait& operator=(const Wait&) = delete;

    // The wait now ends ms from this moment at the latest. Called for every
    // byte that comes, so it only moves the end: the timer is restarted only
    // when the end comes sooner than it is set for, and otherwise, when it
    // fires early, for what is left.
    void arm(int ms) {
        due_ = Clock::now() + std::chrono::milliseconds(std::max(ms, 0));
        if (!timer_.isActive() || firesAt_ > due_)
            startTimer();
    }
    // Ends the wait ms from now whatever arm() says; ms <= 0: no deadline.
    void setDeadline(int ms) {
        if (ms > 0)
            deadline_.start(ms);
    }
    bool pastDeadline() const { return pastDeadline_; }
    // Run when a timer is about to end the wait: it takes what the port holds
    // back, which may end the wait, or move its end by arm().
    void setBeforeEnd(std::function<void()> f) { beforeEnd_ = std::move(f); }
    // Ends the wait now: what it waited for has happened.
    void quit() {
        finished_ = true;
        timer_.stop();
        deadline_.stop();
        loop_.quit();
    }

    // Runs until the next event that concerns the wait.
    End next() {
        if (!portGone() && link_.timedOut_ == 0 && !stopped())
            loop_.exec();
        if (portGone())
            return End::Failed;
        if (link_.timedOut_ != 0)
            return End::TimedOut;
        return stopped() ? End::Stopped : End::Bytes;
    }

private:
    using Clock = std::chrono::steady_clock;

    // Never before due_: the timer counts whole milliseconds from the moment
    // it starts, which is after now.
    void startTimer() {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(due_ - Clock::now());
        const auto ms = std::chrono::milliseconds(std::max<qint64>(left.count(), 0));
        timer_.start(ms);
        firesAt_ = Clock::now() + ms;
    }

    void onTimer() {
        if (Clock::now() >= due_ && beforeEnd_)
            beforeEnd_();
        if (finished_)
            return;
        if (Clock::now() < due_) {
            startTimer(); // bytes came meanwhile and moved the end
            return;
        }
        link_.timedOut_ = 1;
        loop_.quit();
    }

    bool portGone() const { return watchPort_ && (failed_ || !link_.port_.isOpen()); }
    bool stopped() const { return stoppable_ && link_.stopPending_; }
    Link& link_;
    bool watchPort_;
    bool stoppable_;
    QEventLoop loop_;
    QTimer timer_;
    QTimer deadline_;
    Clock::time_point due_;     // the end arm() set
    Clock::time_point firesAt_; // when timer_ fires at the latest
    std::function<void()> beforeEnd_;
    bool failed_ = false;
    bool pastDeadline_ = false;
    bool finished_ = false; // quit(): what was waited for happened
};
