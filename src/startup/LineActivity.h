#pragma once
// Told when the program's own traffic holds the line, so that something that
// must keep quiet meanwhile (the comms-test window's clock) can hold off.

class LineActivity {
public:
    virtual ~LineActivity() = default;
    virtual void setLineBusy(bool busy) = 0;
};

// Marks the line busy for a scope (nullptr: nobody listens).
class LineBusyScope {
public:
    explicit LineBusyScope(LineActivity* activity) : activity_(activity) {
        if (activity_)
            activity_->setLineBusy(true);
    }
    ~LineBusyScope() {
        if (activity_)
            activity_->setLineBusy(false);
    }
    LineBusyScope(const LineBusyScope&) = delete;
    LineBusyScope& operator=(const LineBusyScope&) = delete;

private:
    LineActivity* activity_;
};
