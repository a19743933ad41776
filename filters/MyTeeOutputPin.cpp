#include "filters/MyTeeOutputPin.h"

#include <mutex>
#include <new>

#include "filters/MyTeeFilter.h"
#include "filters/MyTeeInputPin.h"
#include "platform/dshow/FormatBlocks.h"
#include "platform/dshow/OutputQueue.h"
#include "platform/dshow/VfwCodes.h"

CMyTeeOutputPin::CMyTeeOutputPin(CMyTeeFilter* filter, HRESULT* phr, LPCWSTR name)
    : CQueuedOutputPin("CMyTeeOutputPin", filter, filter, phr, name, kBatch), m_pTee(filter) {}

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
