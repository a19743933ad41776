#include "platform/dshow/TransformFilter.h"

#include <new>

#include "platform/dshow/PosPassThru.h"

// -- input pin

CTransformInputPin::CTransformInputPin(const char* objectName, CTransformFilter* filter,
                                       HRESULT* phr, LPCWSTR name)
    : CBaseInputPin(objectName, filter, &filter->m_csFilter, phr, name),
      m_pTransformFilter(filter) {}

HRESULT CTransformInputPin::CheckConnect(IPin* pin) {
    HRESULT hr = m_pTransformFilter->CheckConnect(PINDIR_INPUT, pin);
    if (FAILED(hr)) return hr;
    return CBaseInputPin::CheckConnect(pin);
}

HRESULT CTransformInputPin::BreakConnect() {
    m_pTransformFilter->BreakConnect(PINDIR_INPUT);
    return CBaseInputPin::BreakConnect();
}

HRESULT CTransformInputPin::CompleteConnect(IPin* pin) {
    HRESULT hr = m_pTransformFilter->CompleteConnect(PINDIR_INPUT, pin);
    if (FAILED(hr)) return hr;
    return CBaseInputPin::CompleteConnect(pin);
}

HRESULT CTransformInputPin::CheckMediaType(const CMediaType* mtIn) {
    HRESULT hr = m_pTransformFilter->CheckInputType(mtIn);
    if (hr != S_OK) return hr;
    CTransformOutputPin* out = m_pTransformFilter->m_pOutput;
    if (out && out->IsConnected())
        return m_pTransformFilter->CheckTransform(mtIn, &out->CurrentMediaType());
    return hr;
}

HRESULT CTransformInputPin::SetMediaType(const CMediaType* mt) {
    HRESULT hr = CBasePin::SetMediaType(mt);
    if (FAILED(hr)) return hr;
    return m_pTransformFilter->SetMediaType(PINDIR_INPUT, mt);
}

HRESULT CTransformInputPin::Receive(IMediaSample* sample) {
    CAutoLock lock(&m_pTransformFilter->m_csReceive);
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    return m_pTransformFilter->Receive(sample);
}

HRESULT CTransformInputPin::EndOfStream() {
    CAutoLock lock(&m_pTransformFilter->m_csReceive);
    HRESULT hr = CheckStreaming();
    if (hr == S_OK) hr = m_pTransformFilter->EndOfStream();
    return hr;
}

HRESULT CTransformInputPin::BeginFlush() {
    CAutoLock lock(&m_pTransformFilter->m_csFilter);
    if (!IsConnected() || !m_pTransformFilter->m_pOutput ||
        !m_pTransformFilter->m_pOutput->IsConnected())
        return VFW_E_NOT_CONNECTED;
    HRESULT hr = CBaseInputPin::BeginFlush();
    if (FAILED(hr)) return hr;
    return m_pTransformFilter->BeginFlush();
}

HRESULT CTransformInputPin::EndFlush() {
    CAutoLock lock(&m_pTransformFilter->m_csFilter);
    if (!IsConnected() || !m_pTransformFilter->m_pOutput ||
        !m_pTransformFilter->m_pOutput->IsConnected())
        return VFW_E_NOT_CONNECTED;
    HRESULT hr = m_pTransformFilter->EndFlush();
    if (FAILED(hr)) return hr;
    return CBaseInputPin::EndFlush();
}

HRESULT CTransformInputPin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop,
                                       double dRate) {
    CBasePin::NewSegment(tStart, tStop, dRate);
    return m_pTransformFilter->NewSegment(tStart, tStop, dRate);
}

// -- output pin

CTransformOutputPin::CTransformOutputPin(const char* objectName, CTransformFilter* filter,
                                         HRESULT* phr, LPCWSTR name)
    : CBaseOutputPin(objectName, filter, &filter->m_csFilter, phr, name),
      m_pTransformFilter(filter) {}

CTransformOutputPin::~CTransformOutputPin() {
    if (m_pPassThru) m_pPassThru->NonDelegatingRelease();
}

HRESULT CTransformOutputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IMediaSeeking || riid == IID_IMediaPosition) {
        {
            CAutoLock lock(m_pLock);
            if (!m_pPassThru) {
                HRESULT hr = CreatePosPassThru(GetOwner(), m_pTransformFilter->m_pInput, &m_pPassThru);
                if (FAILED(hr)) return hr;
            }
        }
        return m_pPassThru->NonDelegatingQueryInterface(riid, ppv);
    }
    return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CTransformOutputPin::CheckConnect(IPin* pin) {
    if (!m_pTransformFilter->m_pInput->IsConnected()) return E_UNEXPECTED;
    HRESULT hr = m_pTransformFilter->CheckConnect(PINDIR_OUTPUT, pin);
    if (FAILED(hr)) return hr;
    return CBaseOutputPin::CheckConnect(pin);
}

HRESULT CTransformOutputPin::BreakConnect() {
    m_pTransformFilter->BreakConnect(PINDIR_OUTPUT);
    return CBaseOutputPin::BreakConnect();
}

HRESULT CTransformOutputPin::CompleteConnect(IPin* pin) {
    HRESULT hr = m_pTransformFilter->CompleteConnect(PINDIR_OUTPUT, pin);
    if (FAILED(hr)) return hr;
    return CBaseOutputPin::CompleteConnect(pin);
}

HRESULT CTransformOutputPin::CheckMediaType(const CMediaType* mtOut) {
    CTransformInputPin* in = m_pTransformFilter->m_pInput;
    if (!in || !in->IsConnected()) return E_UNEXPECTED;
    return m_pTransformFilter->CheckTransform(&in->CurrentMediaType(), mtOut);
}

HRESULT CTransformOutputPin::SetMediaType(const CMediaType* mt) {
    HRESULT hr = CBasePin::SetMediaType(mt);
    if (FAILED(hr)) return hr;
    return m_pTransformFilter->SetMediaType(PINDIR_OUTPUT, mt);
}

HRESULT CTransformOutputPin::DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* prop) {
    return m_pTransformFilter->DecideBufferSize(alloc, prop);
}

HRESULT CTransformOutputPin::GetMediaType(int iPosition, CMediaType* mt) {
    CTransformInputPin* in = m_pTransformFilter->m_pInput;
    if (!in || !in->IsConnected()) return VFW_S_NO_MORE_ITEMS;
    return m_pTransformFilter->GetMediaType(iPosition, mt);
}

HRESULT CTransformOutputPin::Notify(IBaseFilter*, Quality) { return S_OK; }

// -- filter

CTransformFilter::CTransformFilter(const char* name, IUnknown* outer, REFCLSID clsid)
    : CBaseFilter(name, outer, &m_csFilter, clsid) {}

CTransformFilter::~CTransformFilter() {
    delete m_pInput;
    delete m_pOutput;
}

int CTransformFilter::GetPinCount() { return 2; }

CBasePin* CTransformFilter::GetPin(int n) {
    CAutoLock lock(&m_csFilter);
    if (!m_pInput) {
        HRESULT hr = S_OK;
        m_pInput = new (std::nothrow) CTransformInputPin("Transform input pin", this, &hr, L"XForm In");
        if (!m_pInput) return nullptr;
        m_pOutput =
            new (std::nothrow) CTransformOutputPin("Transform output pin", this, &hr, L"XForm Out");
        if (!m_pOutput) {
            delete m_pInput;
            m_pInput = nullptr;
            return nullptr;
        }
    }
    if (n == 0) return m_pInput;
    if (n == 1) return m_pOutput;
    return nullptr;
}

HRESULT CTransformFilter::FindPin(LPCWSTR id, IPin** pp) {
    if (!pp || !id) return E_POINTER;
    GetPin(0);
    std::wstring name(id);
    CBasePin* pin = nullptr;
    if (name == L"In" || (m_pInput && name == m_pInput->Name())) pin = m_pInput;
    else if (name == L"Out" || (m_pOutput && name == m_pOutput->Name())) pin = m_pOutput;
    *pp = pin;
    if (!pin) return VFW_E_NOT_FOUND;
    pin->AddRef();
    return S_OK;
}

HRESULT CTransformFilter::Stop() {
    CAutoLock lock(&m_csFilter);
    if (m_State == State_Stopped) return S_OK;
    if (!m_pInput || !m_pInput->IsConnected() || !m_pOutput->IsConnected()) {
        m_State = State_Stopped;
        m_bEOSDelivered = false;
        return S_OK;
    }
    // Decommit upstream's allocator first: a Receive waiting for our output
    // buffers is released by the downstream filter, stopped before us.
    m_pInput->Inactive();
    CAutoLock lock2(&m_csReceive);
    m_pOutput->Inactive();
    HRESULT hr = StopStreaming();
    if (SUCCEEDED(hr)) {
        m_State = State_Stopped;
        m_bEOSDelivered = false;
    }
    return hr;
}

HRESULT CTransformFilter::Pause() {
    CAutoLock lock(&m_csFilter);
    HRESULT hr = S_OK;
    if (m_State == State_Paused) {
        // nothing
    } else if (!m_pInput || !m_pInput->IsConnected()) {
        if (m_pOutput && m_pOutput->IsConnected() && !m_bEOSDelivered) {
            m_pOutput->DeliverEndOfStream();
            m_bEOSDelivered = true;
        }
        m_State = State_Paused;
    } else if (!m_pOutput->IsConnected()) {
        m_State = State_Paused;
    } else {
        if (m_State == State_Stopped) {
            CAutoLock lock2(&m_csReceive);
            hr = StartStreaming();
        }
        if (SUCCEEDED(hr)) hr = CBaseFilter::Pause();
    }
    m_bSampleSkipped = false;
    m_bQualityChanged = false;
    return hr;
}

HRESULT CTransformFilter::Transform(IMediaSample*, IMediaSample*) { return E_UNEXPECTED; }

HRESULT CTransformFilter::InitializeOutputSample(IMediaSample* in, IMediaSample** ppOut) {
    DWORD flags = m_bSampleSkipped ? AM_GBF_PREVFRAMESKIPPED : 0;
    if (in->IsSyncPoint() != S_OK) flags |= AM_GBF_NOTASYNCPOINT;
    REFERENCE_TIME start = 0, stop = 0;
    HRESULT timeHr = in->GetTime(&start, &stop);
    bool hasTime = SUCCEEDED(timeHr);
    IMediaSample* out = nullptr;
    HRESULT hr = m_pOutput->GetDeliveryBuffer(&out, hasTime ? &start : nullptr,
                                              hasTime ? &stop : nullptr, flags);
    if (FAILED(hr)) return hr;
    if (hasTime) out->SetTime(&start, timeHr == S_OK ? &stop : nullptr);
    else out->SetTime(nullptr, nullptr);
    out->SetSyncPoint(in->IsSyncPoint() == S_OK);
    out->SetDiscontinuity(in->IsDiscontinuity() == S_OK || m_bSampleSkipped);
    out->SetPreroll(in->IsPreroll() == S_OK);
    LONGLONG mStart = 0, mStop = 0;
    if (in->GetMediaTime(&mStart, &mStop) == S_OK) out->SetMediaTime(&mStart, &mStop);
    else out->SetMediaTime(nullptr, nullptr);
    *ppOut = out;
    return S_OK;
}

HRESULT CTransformFilter::Receive(IMediaSample* sample) {
    IMediaSample* out = nullptr;
    HRESULT hr = InitializeOutputSample(sample, &out);
    if (FAILED(hr)) return hr;
    hr = Transform(sample, out);
    if (FAILED(hr)) {
        out->Release();
        return hr;
    }
    if (hr == S_OK) {
        hr = m_pOutput->Deliver(out);
        m_bSampleSkipped = false;
    } else {
        // S_FALSE: the transform skipped this sample.
        out->Release();
        m_bSampleSkipped = true;
        if (!m_bQualityChanged) {
            NotifyEvent(EC_QUALITY_CHANGE, 0, 0);
            m_bQualityChanged = true;
        }
        return S_OK;
    }
    out->Release();
    return hr;
}

HRESULT CTransformFilter::EndOfStream() { return m_pOutput->DeliverEndOfStream(); }
HRESULT CTransformFilter::BeginFlush() { return m_pOutput->DeliverBeginFlush(); }
HRESULT CTransformFilter::EndFlush() { return m_pOutput->DeliverEndFlush(); }
HRESULT CTransformFilter::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
    return m_pOutput->DeliverNewSegment(tStart, tStop, dRate);
}
