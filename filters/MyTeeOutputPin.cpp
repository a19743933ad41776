#include "filters/MyTeeOutputPin.h"

#include <mutex>
#include <new>

#include "filters/MyTeeFilter.h"
#include "filters/MyTeeInputPin.h"
#include "platform/dshow/FormatBlocks.h"
#include "platform/dshow/OutputQueue.h"
#include "platform/dshow/VfwCodes.h"

CMyTeeOutputPin::CMyTeeOutputPin(CMyTeeFilter* filter, HRESULT* phr, LPCWSTR name)
    : CBaseOutputPin("CMyTeeOutputPin", filter, filter, phr, name), m_pTee(filter) {}

CMyTeeOutputPin::~CMyTeeOutputPin() { delete m_pQueue; }

HRESULT CMyTeeOutputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IMediaPosition || riid == IID_IMediaSeeking) {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CMyTeeOutputPin::CheckMediaType(const CMediaType* pmt) {
    // Before the input is connected there is no type to match (an empty
    // proposal must not match the empty kept type).
    if (!pmt || !m_pTee->Input()->IsConnected()) return VFW_E_TYPE_NOT_ACCEPTED;
    return *pmt == m_pTee->InputType() ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CMyTeeOutputPin::GetMediaType(int iPosition, CMediaType* pMediaType) {
    if (iPosition < 0) return E_INVALIDARG;
    if (iPosition > 0 || !m_pTee->Input()->IsConnected()) return VFW_S_NO_MORE_ITEMS;
    if (!pMediaType) return E_POINTER;
    return pMediaType->Set(m_pTee->InputType());
}

HRESULT CMyTeeOutputPin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) {
    if (!pAlloc) return E_POINTER;
    const CMediaType& mt = CurrentMediaType();
    LONG size = LONG(mt.GetSampleSize());
    if (mt.Format() && mt.FormatLength() >= sizeof(VIDEOINFOHEADER)) {
        const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.Format());
        if (vih->bmiHeader.biSizeImage) size = LONG(vih->bmiHeader.biSizeImage);
    }
    if (size <= 0) size = 1;
    ALLOCATOR_PROPERTIES request{kBatch, size, 1, 0}, actual{};
    HRESULT hr = pAlloc->SetProperties(&request, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < request.cbBuffer ? E_FAIL : S_OK;
}

HRESULT CMyTeeOutputPin::Active() {
    CAutoLock lock(m_pLock);
    if (IsConnected()) {
        std::unique_lock<std::shared_mutex> queueLock(m_queueLock);
        if (!m_pQueue) {
            HRESULT hr = S_OK;
            m_pQueue = new (std::nothrow)
                COutputQueue(GetConnected(), &hr, FALSE, TRUE, kBatch, FALSE, kBatch);
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

HRESULT CMyTeeOutputPin::Inactive() {
    CAutoLock lock(m_pLock);
    {
        // A streaming thread may be blocked in a full queue while holding the
        // shared lock: release it first, then take the lock to delete.
        std::shared_lock<std::shared_mutex> queueLock(m_queueLock);
        if (m_pQueue) m_pQueue->Shutdown();
    }
    {
        std::unique_lock<std::shared_mutex> queueLock(m_queueLock);
        delete m_pQueue;
        m_pQueue = nullptr;
    }
    return CBaseOutputPin::Inactive();
}

bool CMyTeeOutputPin::HasQueue() {
    std::shared_lock<std::shared_mutex> queueLock(m_queueLock);
    return m_pQueue != nullptr;
}

HRESULT CMyTeeOutputPin::Deliver(IMediaSample* pSample) {
    if (!pSample) return E_POINTER;
    std::shared_lock<std::shared_mutex> queueLock(m_queueLock);
    if (!m_pQueue) return S_OK;
    pSample->AddRef(); // the queue releases it after delivery
    return m_pQueue->Receive(pSample);
}

HRESULT CMyTeeOutputPin::DeliverEndOfStream() {
    std::shared_lock<std::shared_mutex> queueLock(m_queueLock);
    if (m_pQueue) m_pQueue->EOS();
    return S_OK;
}

HRESULT CMyTeeOutputPin::DeliverBeginFlush() {
    std::shared_lock<std::shared_mutex> queueLock(m_queueLock);
    if (m_pQueue) m_pQueue->BeginFlush();
    return S_OK;
}

HRESULT CMyTeeOutputPin::DeliverEndFlush() {
    std::shared_lock<std::shared_mutex> queueLock(m_queueLock);
    if (m_pQueue) m_pQueue->EndFlush();
    return S_OK;
}

HRESULT CMyTeeOutputPin::DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop,
                                           double dRate) {
    std::shared_lock<std::shared_mutex> queueLock(m_queueLock);
    if (m_pQueue) m_pQueue->NewSegment(tStart, tStop, dRate);
    return S_OK;
}
