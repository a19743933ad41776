#include "platform/dshow/AMThread.h"

CAMThread::CAMThread(HRESULT*) {}

CAMThread::~CAMThread() { Close(); }

bool CAMThread::Create() {
    std::lock_guard lk(threadMutex_);
    if (thread_.joinable()) return false;
    try {
        thread_ = std::thread([this] { ThreadProc(); });
    } catch (...) {
        return false;
    }
    return true;
}

bool CAMThread::ThreadExists() const {
    std::lock_guard lk(threadMutex_);
    return thread_.joinable();
}

void CAMThread::Close() {
    std::thread t;
    {
        std::lock_guard lk(threadMutex_);
        t = std::move(thread_);
    }
    if (t.joinable() && t.get_id() != std::this_thread::get_id()) t.join();
    else if (t.joinable()) t.detach();
}

DWORD CAMThread::CallWorker(DWORD dwParam) {
    CAutoLock lock(&m_AccessLock);
    if (!ThreadExists()) return DWORD(E_FAIL);
    param_ = dwParam;
    eventSend_.Set();
    eventComplete_.Wait();
    return returnVal_;
}

DWORD CAMThread::GetRequest() {
    eventSend_.Wait();
    return param_;
}

bool CAMThread::CheckRequest(DWORD* pParam) {
    if (!eventSend_.Check()) return false;
    // Check consumed the auto-reset event: put it back so GetRequest sees it.
    eventSend_.Set();
    if (pParam) *pParam = param_;
    return true;
}

void CAMThread::Reply(DWORD dw) {
    returnVal_ = dw;
    // A request answered without GetRequest (after CheckRequest) is consumed here.
    eventSend_.Reset();
    eventComplete_.Set();
}

bool CAMThread::SetThreadPriority(int priority) {
    priority_ = priority;
    return true;
}
