#include "platform/dshow/BaseInputPin.h"

#include "platform/dshow/MemAllocator.h"

CBaseInputPin::CBaseInputPin(const char* objectName, CBaseFilter* filter, CCritSec* lock,
                             HRESULT* phr, LPCWSTR name)
    : CBasePin(objectName, filter, lock, phr, name, PINDIR_INPUT) {}

CBaseInputPin::~CBaseInputPin() {
    if (m_pAllocator) {
        m_pAllocator->Release();
        m_pAllocator = nullptr;
    }
}

HRESULT CBaseInputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IMemInputPin) return ::GetInterface(static_cast<IMemInputPin*>(this), ppv);
    return CBasePin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseInputPin::GetAllocator(IMemAllocator** pp) {
    if (!pp) return E_POINTER;
    CAutoLock lock(m_pLock);
    if (!m_pAllocator) {
        HRESULT hr = CMemAllocator::Create(&m_pAllocator);
        if (FAILED(hr)) return hr;
    }
    *pp = m_pAllocator;
    m_pAllocator->AddRef();
    return S_OK;
}

HRESULT CBaseInputPin::NotifyAllocator(IMemAllocator* alloc, BOOL readOnly) {
    if (!alloc) return E_POINTER;
    CAutoLock lock(m_pLock);
    alloc->AddRef();
    if (m_pAllocator) m_pAllocator->Release();
    m_pAllocator = alloc;
    m_bReadOnly = readOnly != 0;
    return S_OK;
}

HRESULT CBaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) { return E_NOTIMPL; }

HRESULT CBaseInputPin::CheckStreaming() {
    if (!IsConnected()) return VFW_E_NOT_CONNECTED;
    if (IsStopped()) return VFW_E_WRONG_STATE;
    if (m_bFlushing) return S_FALSE;
    if (m_bRunTimeError) return VFW_E_RUNTIME_ERROR;
    return S_OK;
}

HRESULT CBaseInputPin::Receive(IMediaSample* sample) {
    if (!sample) return E_POINTER;
    HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;
    AM_MEDIA_TYPE* pmt = nullptr;
    if (sample->GetMediaType(&pmt) == S_OK && pmt) {
        CMediaType mt(*pmt);
        DeleteMediaType(pmt);
        hr = CheckMediaType(&mt);
        if (hr != S_OK) {
            m_bRunTimeError = true;
            EndOfStream();
            m_pFilter->NotifyEvent(EC_ERRORABORT, VFW_E_TYPE_NOT_ACCEPTED, 0);
            return VFW_E_INVALIDMEDIATYPE;
        }
        m_mt = mt;
    }
    return S_OK;
}

HRESULT CBaseInputPin::ReceiveMultiple(IMediaSample** samples, LONG n, LONG* processed) {
    if (!samples) return E_POINTER;
    HRESULT hr = S_OK;
    LONG done = 0;
    while (done < n) {
        hr = Receive(samples[done]);
        if (hr != S_OK) break;
        ++done;
    }
    if (processed) *processed = done;
    return hr;
}

HRESULT CBaseInputPin::ReceiveCanBlock() { return S_OK; }

HRESULT CBaseInputPin::BeginFlush() {
    m_bFlushing = true;
    return S_OK;
}

HRESULT CBaseInputPin::EndFlush() {
    m_bFlushing = false;
    m_bRunTimeError = false;
    return S_OK;
}

HRESULT CBaseInputPin::Disconnect() {
    CAutoLock lock(m_pLock);
    if (!IsStopped()) return VFW_E_NOT_STOPPED;
    return DisconnectInternal();
}

HRESULT CBaseInputPin::BreakConnect() {
    if (m_pAllocator) {
        m_pAllocator->Decommit();
        m_pAllocator->Release();
        m_pAllocator = nullptr;
    }
    return S_OK;
}

HRESULT CBaseInputPin::Inactive() {
    m_bRunTimeError = false;
    if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
    m_bFlushing = false;
    return m_pAllocator->Decommit();
}
