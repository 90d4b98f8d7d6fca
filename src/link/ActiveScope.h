#pragma once
// Marks a line as in the middle of a send or a wait for a scope, so that a
// request made from an event handler meanwhile is refused instead of nested.

class ActiveScope {
public:
    explicit ActiveScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~ActiveScope() { flag_ = false; }
    ActiveScope(const ActiveScope&) = delete;
    ActiveScope& operator=(const ActiveScope&) = delete;

private:
    bool& flag_;
};
