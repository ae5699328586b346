// A second thread for the share of a report's work that touches no Python object. One task at a time is
// offered to it; the offering thread keeps the GIL and works on the same task, so the record cannot change
// while the helper reads it. The helper never calls into the interpreter.
#pragma once

#include <atomic>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace rundown::fast {

/// A moment's pause in a loop that waits for another thread.
inline void relax() noexcept {
#if defined(__SSE2__)
    _mm_pause();
#endif
}

/// Work that the offering thread and the helper do together.
class Task {
public:
    virtual ~Task() = default;
    /// The helper's part; must not throw.
    virtual void run() noexcept = 0;

private:
    friend class Helper;
    std::atomic<bool> finished_{false};
};

class Helper {
public:
    /// The process's helper, started at the first call; null where no thread can be started.
    static Helper* get() noexcept;

    /// Hands `task` to the helper, which may or may not take it; false when it is busy.
    bool offer(Task& task) noexcept;
    /// Takes `task` back, and when the helper took it already, waits until it has done its part. Call once
    /// for every task that was offered, before the task goes.
    void settle(Task& task) noexcept;

private:
    Helper() = default;
    void loop() noexcept;

    std::atomic<Task*> slot_{nullptr};
};

}  // namespace rundown::fast
