// CAMThread: a worker thread driven by commands. The owner thread calls
// CallWorker(request), which blocks until the worker answers with Reply; the
// worker, in ThreadProc, waits with GetRequest or polls with CheckRequest.
//
// Lifetime: Create starts ThreadProc on a new thread; the owner must make the
// thread leave ThreadProc (usually a CallWorker with an exit command) and then
// call Close, which joins it. The destructor calls Close as a last resort, but a
// derived class must have joined its thread before its own members go away.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

#include "platform/dshow/AMEvent.h"
#include "platform/dshow/CritSec.h"

class CAMThread {
public:
    CAMThread(HRESULT* phr = nullptr);
    virtual ~CAMThread();
    CAMThread(const CAMThread&) = delete;
    CAMThread& operator=(const CAMThread&) = delete;

    // Starts the thread; false when it already runs or cannot be started.
    bool Create();
    // True between Create and Close.
    bool ThreadExists() const;
    // Joins the thread (it must be leaving ThreadProc). Harmless without a thread.
    void Close();

    // Owner side: sends a request and waits for the worker's Reply; returns the
    // reply value. Serialised among callers. Returns E_FAIL without a thread.
    DWORD CallWorker(DWORD dwParam);
    // Worker side: waits for a request and returns it (the caller must Reply).
    DWORD GetRequest();
    // Worker side: true when a request is pending; stores it in *pParam when
    // given (it stays pending until GetRequest or Reply).
    bool CheckRequest(DWORD* pParam);
    // Worker side: answers the pending request; CallWorker returns dw.
    void Reply(DWORD dw);

    // Set while a request is pending (auto-reset; consumed by GetRequest).
    CAMEvent& GetRequestHandle() { return eventSend_; }
    DWORD GetRequestParam() const { return param_; }

    // A hint on this platform; remembered and returned by GetThreadPriority.
    bool SetThreadPriority(int priority);
    int GetThreadPriority() const { return priority_; }

    // Serialises CallWorker callers; derived classes may lock it too.
    CCritSec m_AccessLock;

protected:
    // The thread body. Returns the thread's exit code.
    virtual DWORD ThreadProc() = 0;

private:
    std::thread thread_;
    mutable std::mutex threadMutex_;
    CAMEvent eventSend_{false};
    CAMEvent eventComplete_{false};
    std::atomic<DWORD> param_{0};
    std::atomic<DWORD> returnVal_{0};
    std::atomic<int> priority_{0};
};
