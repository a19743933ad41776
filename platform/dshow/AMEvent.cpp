#include "platform/dshow/AMEvent.h"

#include <chrono>

CAMEvent::CAMEvent(bool manualReset) : manual_(manualReset) {}

void CAMEvent::Set() {
    // Notify under the lock: a waiter may destroy the event as soon as it wakes.
    std::lock_guard lk(mutex_);
    set_ = true;
    if (manual_)
        cv_.notify_all();
    else
        cv_.notify_one();
}

void CAMEvent::Reset() {
    std::lock_guard lk(mutex_);
    set_ = false;
}

bool CAMEvent::Wait(DWORD ms) {
    std::unique_lock lk(mutex_);
    if (ms == INFINITE)
        cv_.wait(lk, [&] { return set_; });
    else if (!cv_.wait_for(lk, std::chrono::milliseconds(ms), [&] { return set_; }))
        return false;
    if (!manual_) set_ = false;
    return true;
}
