// CAMEvent: an event that is manual-reset (stays set until Reset) or
// auto-reset (one waiter consumes it). Waits take milliseconds (INFINITE
// forever). Safe from any thread.
#pragma once

#include <condition_variable>
#include <mutex>

#include "platform/dshow/DshowTypes.h"

class CAMEvent {
public:
    explicit CAMEvent(bool manualReset = false);
    CAMEvent(const CAMEvent&) = delete;
    CAMEvent& operator=(const CAMEvent&) = delete;

    void Set();
    void Reset();
    // True when the event was (or became) set within ms; an auto-reset event is
    // reset by the wait that sees it.
    bool Wait(DWORD ms = INFINITE);
    // Wait(0).
    bool Check() { return Wait(0); }
    bool IsManualReset() const { return manual_; }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool set_ = false;
    const bool manual_;
};

// CAMEvent constructed manual-reset.
class CAMManualEvent : public CAMEvent {
public:
    CAMManualEvent() : CAMEvent(true) {}
};
