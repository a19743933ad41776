// GraphEventQueue: the graph's event queue. Filters' events arrive through Add
// (any thread); the application takes them with Get. Default handling of
// EC_COMPLETE: the renderers noted by SetRenderers each send one; the queue
// holds them back and queues one EC_COMPLETE (S_OK, 0) once every renderer has
// sent its own. After Cancel(EC_COMPLETE) each passes at once. Every queued
// event also posts a notification to the notify window when one is set.
// Safe from any thread; one internal lock, never held while posting.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <vector>

#include "platform/dshow/AMEvent.h"
#include "platform/dshow/Interfaces.h"

class GraphEventQueue {
public:
    // An event from a filter (p2 of EC_COMPLETE is the sending filter).
    void Add(LONG code, LONG_PTR p1, LONG_PTR p2);
    // S_OK and the oldest event; E_ABORT when none came within msTimeout
    // (negative: wait forever).
    HRESULT Get(LONG* code, LONG_PTR* p1, LONG_PTR* p2, LONG msTimeout);
    // S_OK and the first EC_COMPLETE / EC_USERABORT / EC_ERRORABORT queued since
    // the last reset; E_ABORT after msTimeout.
    HRESULT WaitForCompletion(LONG msTimeout, LONG* code);
    void Cancel(LONG code);
    void Restore(LONG code);
    void SetNotifyWindow(OAHWND window, LONG message, LONG_PTR instanceData);
    void SetNotifyFlags(LONG flags);
    LONG NotifyFlags();
    // Manual-reset event, set while events are queued.
    CAMEvent* Handle() { return &handle_; }

    // Forgets which renderers have completed (start, stop, seek).
    void ResetCompletion();
    // The renderers whose EC_COMPLETE default handling waits for; also resets.
    void SetRenderers(const std::vector<IBaseFilter*>& renderers);

private:
    void QueueLocked(LONG code, LONG_PTR p1, LONG_PTR p2);

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::tuple<LONG, LONG_PTR, LONG_PTR>> events_;
    CAMEvent handle_{true};
    std::set<LONG> cancelled_;
    std::set<IBaseFilter*> renderers_;
    std::set<IBaseFilter*> completed_;
    bool completeSent_ = false;
    LONG completionCode_ = 0;
    QObject* window_ = nullptr;
    LONG message_ = 0;
    LONG_PTR instanceData_ = 0;
    LONG flags_ = 0;
};
