// PresentationWait: how a renderer's streaming thread waits for the moment a
// sample is due. Running with a clock: until the filter's stream time reaches
// the given time; running without a clock: not at all; paused: until the filter
// runs. A stop or flush (the cancelled predicate) ends the wait early.
//
// Wake must be called after every state change and flush so a waiter rechecks.
// Thread-safe: Wait on the streaming thread, Wake from any thread.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

#include "platform/dshow/BaseFilter.h"

class PresentationWait {
public:
    // True when due; false when stopped or cancelled. t in 100-ns stream time.
    bool Wait(CBaseFilter* filter, REFERENCE_TIME t, const std::function<bool()>& cancelled);
    void Wake();

private:
    std::mutex mutex_;
    std::condition_variable cv_;
};
