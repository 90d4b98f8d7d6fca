#pragma once
// A fuzz target's check: a broken promise stops the run where libFuzzer keeps
// the input that broke it.

inline void require(bool ok) {
    if (!ok)
        __builtin_trap();
}
