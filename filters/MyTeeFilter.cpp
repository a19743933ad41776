#include "filters/MyTeeFilter.h"

#include "platform/dshow/FilterFactory.h"

#include <new>

#include "filters/MyTeeInputPin.h"
#include "filters/MyTeeOutputPin.h"

CUnknown* CMyTeeFilter::CreateInstance(IUnknown* outer, HRESULT* phr) {
    return CreateFilterInstance<CMyTeeFilter>(outer, phr);
}

HRESULT CMyTeeFilter::Create(IBaseFilter** ppFilter) { return CreateFilter<CMyTeeFilter>(ppFilter); }

CMyTeeFilter::CMyTeeFilter(IUnknown* outer, HRESULT* phr)
    : CBaseFilter("CMyTeeFilter", outer, this, CLSID_MyTeeFilter, phr) {
    HRESULT hr = S_OK;
    m_pInput = new (std::nothrow) CMyTeeInputPin(this, &hr);
    m_pOutput[0] = new (std::nothrow) CMyTeeOutputPin(this, &hr, L"Output0");
    m_pOutput[1] = new (std::nothrow) CMyTeeOutputPin(this, &hr, L"Output1");
    if (!m_pInput || !m_pOutput[0] || !m_pOutput[1]) hr = E_OUTOFMEMORY;
    if (FAILED(hr) && phr) *phr = hr;
}

CMyTeeFilter::~CMyTeeFilter() {
    delete m_pOutput[1];
    delete m_pOutput[0];
    delete m_pInput;
}

CBasePin* CMyTeeFilter::GetPin(int n) {
    if (n == 0) return m_pInput;
    if (n >= 1 && n <= kOutputs) return m_pOutput[n - 1];
    return nullptr;
}

CMediaType CMyTeeFilter::InputType() {
    CAutoLock lock(this);
    return m_mt;
}

void CMyTeeFilter::SetInputType(const CMediaType& mt) {
    CAutoLock lock(this);
    m_mt = mt;
}
