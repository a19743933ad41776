// COutputQueue: delivers samples to a downstream input pin, normally on its own
// thread so that the caller never waits for downstream work. Samples are handed
// over in batches of up to lBatchSize (ReceiveMultiple); end of stream and new
// segment travel in order with the samples; flushes go to the pin at once and
// drop what is queued.
//
// Ownership: Receive/ReceiveMultiple take over one reference of each sample
// (the caller AddRefs a sample it keeps); the queue releases it after delivery,
// or at once when it is dropped (flushing, a failed downstream, shutdown).
//
// Back-pressure: with a list size above 0 the queue holds at most lListSize
// samples; Receive then blocks until the thread has taken some, a flush begins
// or the queue is destroyed (those drop the sample: S_FALSE, VFW_E_WRONG_STATE).
//
// Threads: Receive, EOS, NewSegment, SendAnyway on the upstream streaming
// thread; BeginFlush/EndFlush on the seeking thread; construction, Shutdown and
// destruction on the application thread. Destruction releases a blocked
// producer and joins the thread (the downstream pin must return from Receive,
// which a stopped downstream filter does).
//
// An owner whose streaming thread may still call Receive while it deletes the
// queue (an output pin going inactive) does it in two steps: Shutdown (releases
// a producer blocked in Receive; later calls drop their samples), then, under
// the lock its streaming thread holds around Receive, delete the queue.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/dshow/CritSec.h"
#include "platform/dshow/Interfaces.h"

constexpr LONG DEFAULTCACHE = 10;

class COutputQueue : public CCritSec {
public:
    // pInputPin: the downstream input pin (a reference is kept). bAuto: queue
    // only when the pin's ReceiveCanBlock says S_OK; otherwise bQueue decides.
    // bBatchExact: wait for a full batch (or SendAnyway / EOS) before delivering.
    // *phr: E_NOINTERFACE without IMemInputPin, E_OUTOFMEMORY without a thread.
    COutputQueue(IPin* pInputPin, HRESULT* phr, BOOL bAuto = TRUE, BOOL bQueue = TRUE,
                 LONG lBatchSize = 1, BOOL bBatchExact = FALSE, LONG lListSize = DEFAULTCACHE,
                 DWORD dwPriority = THREAD_PRIORITY_NORMAL, bool bFlushingOpt = false);
    ~COutputQueue();

    // Passes BeginFlush to the pin at once, drops queued samples; Receive drops
    // samples (S_FALSE) until EndFlush.
    void BeginFlush();
    // Waits until the thread is idle, then passes EndFlush; resets the result.
    void EndFlush();
    // End of stream after the queued samples.
    void EOS();
    // Delivers a partial batch now (bBatchExact).
    void SendAnyway();
    void NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate);

    // S_OK when queued/delivered; the first downstream failure is kept and
    // returned for later samples (which are dropped) until Reset or EndFlush.
    HRESULT Receive(IMediaSample* pSample);
    HRESULT ReceiveMultiple(IMediaSample** ppSamples, LONG nSamples, LONG* nSamplesProcessed);
    // Clears the kept failure.
    void Reset();
    // Stops accepting: queued samples are dropped, a producer blocked in Receive
    // returns VFW_E_WRONG_STATE, and so do later calls. The thread ends with the
    // queue's destruction.
    void Shutdown();
    // True when nothing is queued and the thread is not delivering.
    bool IsIdle();
    bool IsQueued() const { return queued_; }
    void SetPriority(DWORD priority) {}

private:
    enum class Kind { Sample, EndOfStream, NewSegment };
    struct Item {
        Kind kind;
        IMediaSample* sample;
        REFERENCE_TIME start, stop;
        double rate;
    };

    void ThreadProc();
    void FreeQueuedLocked();
    LONG QueuedSamplesLocked() const { return queuedSamples_; }

    IPin* pin_;                 // reference
    IMemInputPin* inputPin_;    // reference
    bool queued_;
    const LONG batchSize_;
    const bool batchExact_;
    const LONG listSize_;

    std::mutex mutex_;
    std::condition_variable workCv_;  // thread: items or terminate
    std::condition_variable spaceCv_; // producers: room, flushing, terminate
    std::condition_variable idleCv_;  // EndFlush / IsIdle / destructor
    std::deque<Item> items_;
    LONG queuedSamples_ = 0;
    bool flushing_ = false;
    bool terminate_ = false;
    bool busy_ = false;
    bool sendAnyway_ = false;
    int producersInside_ = 0;
    HRESULT hr_ = S_OK;
    std::thread thread_;
};
