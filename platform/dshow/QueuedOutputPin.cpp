#include "platform/dshow/QueuedOutputPin.h"

#include <mutex>
#include <new>

#include "platform/dshow/OutputQueue.h"

CQueuedOutputPin::CQueuedOutputPin(const char* objectName, CBaseFilter* filter, CCritSec* lock,
                                   HRESULT* phr, LPCWSTR pinName, LONG batch)
    : CBaseOutputPin(objectName, filter, lock, phr, pinName), m_batch(batch) {}

CQueuedOutputPin::~CQueuedOutputPin() { delete m_pQueue; }

HRESULT CQueuedOutputPin::Active() {
    CAutoLock lock(m_pLock);
    if (IsConnected()) {
        std::unique_lock<std::shared_mutex> queueLock(m_queueLock);
        if (!m_pQueue) {
            HRESULT hr = S_OK;
            m_pQueue = new (std::nothrow)
                COutputQueue(GetConnected(), &hr, FALSE, TRUE, m_batch, FALSE, m_batch);
            if (!m_pQueue) return E_OUTOFMEMORY;
            if (FAILED(hr)) {
                delete m_pQueue;
                m_pQueue = nullptr;
                return hr;
            }
        }
    }
    return CBaseOutputPin::Active();
}

HRESULT CQueuedOutputPin::Inactive() {
    CAutoLock lock(m_pLock);
    {
        // A streaming thread may be blocked in a full queue while holding the
        // shared lock: release it before taking the lock to delete.
        std::shared_lock<std::shared_mutex> queueLock(m_queueLock);
        if (m_pQueue) m_pQueue->Shutdown();
    }
    // Decommitting releases samples; the queue thread is joined on deletion.
    HRESULT hr = CBaseOutputPin::Inactive();
    std::unique_lock<std::shared_mutex> queueLock(m_queueLock);
    delete m_pQueue;
    m_pQueue = nullptr;
    return hr;
}

bool CQueuedOutputPin::HasQueue() {
    std::shared_lock<std::shared_mutex> queueLock(m_queueLock);
    return m_pQueue != nullptr;
}

HRESULT CQueuedOutputPin::Deliver(IMediaSample* pSample) {
    if (!pSample) return E_POINTER;
    std::shared_lock<std::shared_mutex> queueLock(m_queueLock);
    if (!m_pQueue) return S_OK;
    pSample->AddRef(); // the queue releases it after delivery
    return m_pQueue->Receive(pSample);
}

HRESULT CQueuedOutputPin::DeliverEndOfStream() {
    std::shared_lock<std::shared_mutex> queueLock(m_queueLock);
    if (m_pQueue) m_pQueue->EOS();
    return S_OK;
}

HRESULT CQueuedOutputPin::DeliverBeginFlush() {
    std::shared_lock<std::shared_mutex> queueLock(m_queueLock);
    if (m_pQueue) m_pQueue->BeginFlush();
    return S_OK;
}

HRESULT CQueuedOutputPin::DeliverEndFlush() {
    std::shared_lock<std::shared_mutex> queueLock(m_queueLock);
    if (m_pQueue) m_pQueue->EndFlush();
    return S_OK;
}

HRESULT CQueuedOutputPin::DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop,
                                            double dRate) {
    std::shared_lock<std::shared_mutex> queueLock(m_queueLock);
    if (m_pQueue) m_pQueue->NewSegment(tStart, tStop, dRate);
    return S_OK;
}
