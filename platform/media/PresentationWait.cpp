#include "platform/media/PresentationWait.h"

#include <algorithm>
#include <chrono>

bool PresentationWait::Wait(CBaseFilter* filter, REFERENCE_TIME t,
                            const std::function<bool()>& cancelled) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (cancelled()) return false;
        const FILTER_STATE state = filter->State();
        if (state == State_Stopped) return false;
        if (state == State_Paused) {
            cv_.wait(lock);
            continue;
        }
        REFERENCE_TIME now = 0;
        const HRESULT hr = filter->StreamTime(&now);
        if (hr == VFW_E_NO_CLOCK) return true;
        if (hr != S_OK) { // not running after all: recheck on the next change
            cv_.wait(lock);
            continue;
        }
        if (now >= t) return true;
        // The clock runs in real time: wait for the remaining span (a state change
        // or flush wakes us sooner).
        const REFERENCE_TIME left = std::min<REFERENCE_TIME>(t - now, 10 * UNITS);
        cv_.wait_for(lock, std::chrono::microseconds(left / 10 + 1));
    }
}

void PresentationWait::Wake() {
    std::lock_guard<std::mutex> lock(mutex_);
    cv_.notify_all();
}
