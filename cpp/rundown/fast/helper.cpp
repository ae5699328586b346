// The helper thread: it waits for a task in one slot, spins a little after each task so that a batch of
// reports does not pay for waking it every time, and is never joined (it sleeps through the interpreter's
// exit). After a fork the child starts a helper of its own, as the parent's thread does not exist there.
#include "rundown/fast/helper.hpp"

#include <chrono>
#include <thread>

#include <pthread.h>

namespace rundown::fast {

namespace {

Helper* shared = nullptr;
bool unavailable = false;

void forget_in_child() noexcept { shared = nullptr; }  // the parent's object stays behind, unused

}  // namespace

Helper* Helper::get() noexcept {
    // Called with the GIL held, so never by two threads at once.
    if (shared || unavailable) return shared;
    static const bool registered = pthread_atfork(nullptr, nullptr, forget_in_child) == 0;
    if (!registered) {
        unavailable = true;
        return nullptr;
    }
    Helper* h = new (std::nothrow) Helper();
    if (!h) return nullptr;
    try {
        std::thread([h] { h->loop(); }).detach();
    } catch (...) {  // no thread to be had: the reports are written by the calling thread alone
        delete h;
        unavailable = true;
        return nullptr;
    }
    shared = h;
    return h;
}

bool Helper::offer(Task& task) noexcept {
    task.finished_.store(false, std::memory_order_relaxed);
    Task* empty = nullptr;
    if (!slot_.compare_exchange_strong(empty, &task, std::memory_order_acq_rel)) return false;
    slot_.notify_one();
    return true;
}

void Helper::settle(Task& task) noexcept {
    Task* offered = &task;
    if (slot_.compare_exchange_strong(offered, nullptr, std::memory_order_acq_rel)) return;  // never taken
    // The helper is at work on it, and only on the part that needs no interpreter: a short wait.
    for (unsigned spins = 0; !task.finished_.load(std::memory_order_acquire); ++spins) {
        if (spins < 4096) relax();
        else std::this_thread::yield();
    }
}

void Helper::loop() noexcept {
    using clock = std::chrono::steady_clock;
    for (;;) {
        Task* task = slot_.load(std::memory_order_acquire);
        if (!task) {
            // Waits a moment awake, then asleep until a task is offered.
            const auto until = clock::now() + std::chrono::microseconds(200);
            while (!(task = slot_.load(std::memory_order_acquire)) && clock::now() < until)
                for (int i = 0; i < 64; ++i) relax();
            if (!task) {
                slot_.wait(nullptr, std::memory_order_acquire);
                continue;
            }
        }
        if (!slot_.compare_exchange_strong(task, nullptr, std::memory_order_acq_rel)) continue;  // taken back
        task->run();
        task->finished_.store(true, std::memory_order_release);  // the task may go from here on
    }
}

}  // namespace rundown::fast
