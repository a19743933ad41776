// CQueuedOutputPin: an output pin that delivers through its own COutputQueue
// (own thread, batches of up to `batch`, at most `batch` samples waiting), so
// a slow downstream filter never holds the caller back. The queue exists
// while the pin is active and connected.
//
// Ownership: Deliver adds a reference of its own; the caller keeps its one.
// Locks: the queue is made and deleted under the filter lock and the
// exclusive side of m_queueLock; streaming calls (Deliver, end of stream,
// flushes, new segment) hold its shared side, so a flush always reaches a
// queue whose producer waits for room, and the queue is never deleted under
// a caller. Going inactive first shuts the queue down, which releases a
// producer blocked in it.
#pragma once

#include <shared_mutex>

#include "platform/dshow/BaseOutputPin.h"

class COutputQueue;

class CQueuedOutputPin : public CBaseOutputPin {
public:
    CQueuedOutputPin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr,
                     LPCWSTR pinName, LONG batch);
    ~CQueuedOutputPin() override;

    HRESULT Active() override;
    HRESULT Inactive() override;

    // E_POINTER for null; dropped with S_OK when there is no queue.
    HRESULT Deliver(IMediaSample* pSample) override;
    HRESULT DeliverEndOfStream() override;
    HRESULT DeliverBeginFlush() override;
    HRESULT DeliverEndFlush() override;
    HRESULT DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

    // Whether the pin has a queue now.
    bool HasQueue();

private:
    const LONG m_batch;
    std::shared_mutex m_queueLock;
    COutputQueue* m_pQueue = nullptr; // owned
};
