// Serves the reads of an asynchronous reader pin over one stream: synchronous
// reads run on the caller's thread; queued reads run in order on one worker
// thread (started by the first queued read, stopped and joined by the
// destructor) and are collected with WaitForNext.
//
// Sample-based reads take the byte range from the sample's times: byte
// offset x 10,000,000 (kUnits) in both start and stop. A range running past
// the end of the stream is cut there and the sample's stop time rewritten.
//
// Threads: every method may be called from any thread. The queue's lock is
// never held while a request reads; the stream's lock is held across each
// request's seek and read.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/dshow/Interfaces.h"
#include "source/AsyncRequest.h"
#include "source/CAsyncStream.h"

class AsyncRequestQueue {
public:
    // Sample times per byte of offset.
    static constexpr LONGLONG kUnits = 10'000'000;

    // `stream` must outlive the queue.
    explicit AsyncRequestQueue(CAsyncStream* stream);
    // Stop(), then drops every request still queued or uncollected.
    ~AsyncRequestQueue();
    AsyncRequestQueue(const AsyncRequestQueue&) = delete;
    AsyncRequestQueue& operator=(const AsyncRequestQueue&) = delete;

    // Queues a read of the sample's byte range into the sample's buffer.
    // VFW_E_BADALIGN for a misaligned range or buffer, VFW_E_WRONG_STATE
    // while flushing, E_INVALIDARG when the range does not fit the buffer.
    // The queue keeps a reference to the sample until WaitForNext hands it
    // back; the caller keeps its own.
    HRESULT Request(IMediaSample* sample, DWORD_PTR cookie);
    // Queues a read of raw bytes; `buffer` must stay valid until collected.
    HRESULT RequestBytes(LONGLONG position, LONG length, BYTE* buffer, IMediaSample* sample,
                         DWORD_PTR cookie);
    // Waits up to `timeoutMs` (INFINITE: no limit) for the oldest completed
    // read and returns its sample (not add-ref'd: the caller's own reference
    // is the one it holds) and cookie. On success the sample's data length
    // is set to the bytes read; a read cut short exactly at the end of the
    // stream is S_OK, any other short read E_FAIL. VFW_E_WRONG_STATE while
    // flushing with nothing left, VFW_E_TIMEOUT when the time ran out.
    // *sample and *cookie are cleared when no read is returned.
    HRESULT WaitForNext(DWORD timeoutMs, IMediaSample** sample, DWORD_PTR* cookie);

    // Reads the sample's byte range at once on the calling thread and sets
    // the sample's data length; S_FALSE for a read cut short.
    HRESULT SyncReadAligned(IMediaSample* sample);
    // Reads `length` bytes at `position` on the calling thread; S_FALSE when
    // fewer bytes were available (at the end of the stream).
    HRESULT SyncRead(LONGLONG position, LONG length, BYTE* buffer);
    // Both the stream's total length; they are always equal here.
    HRESULT Length(LONGLONG* total, LONGLONG* available);
    LONG Alignment() const;
    bool IsAligned(LONGLONG value) const;

    // Moves every queued read to the completed list unread (result
    // VFW_E_TIMEOUT), refuses new ones, and returns once the read in
    // progress, if any, has completed.
    HRESULT BeginFlush();
    HRESULT EndFlush();

    // Stops the worker after the read in progress, if any, and joins it;
    // queued reads stay unread and new ones are refused (E_UNEXPECTED).
    // The owner calls it before the stream goes away. Idempotent.
    void Stop();

private:
    // Byte range of a sample, cut at the end of the stream (the sample's stop
    // time is rewritten then).
    HRESULT SampleRange(IMediaSample* sample, LONGLONG* position, LONG* length, BYTE** buffer);
    HRESULT Enqueue(std::unique_ptr<AsyncRequest> request);
    void Run();

    CAsyncStream* const stream_;

    std::mutex lock_;
    // -- guarded by lock_
    bool flushing_ = false;
    bool stopping_ = false;
    std::deque<std::unique_ptr<AsyncRequest>> pending_;
    std::deque<std::unique_ptr<AsyncRequest>> completed_;
    // Requests being read by the worker.
    int inFlight_ = 0;
    // A flush waits for the requests in flight.
    bool waitingAllDone_ = false;
    // Signalled when pending_ gains a request or stopping_ is set.
    std::condition_variable work_;
    // Signalled when completed_ gains a request or flushing starts.
    std::condition_variable done_;
    // Signalled when the last request in flight completes during a flush.
    std::condition_variable allDone_;
    // Started by the first queued request; joined by the destructor.
    std::thread worker_;
};
