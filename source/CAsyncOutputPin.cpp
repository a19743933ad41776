#include "source/CAsyncOutputPin.h"

#include "platform/dshow/MemAllocator.h"

CAsyncOutputPin::CAsyncOutputPin(HRESULT* phr, CBaseFilter* filter, CCritSec* lock,
                                 AsyncRequestQueue* queue, const CMediaType* filterType)
    : CBasePin("Async output pin", filter, lock, phr, L"Output", PINDIR_OUTPUT), queue_(queue),
      filterType_(filterType) {}

HRESULT CAsyncOutputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IAsyncReader) {
        queriedForAsyncReader_ = true;
        return ::GetInterface(static_cast<IAsyncReader*>(this), ppv);
    }
    return CBasePin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CAsyncOutputPin::GetMediaType(int position, CMediaType* pmt) {
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    if (!pmt) return E_POINTER;
    CAutoLock lock(m_pLock);
    return pmt->Set(*filterType_);
}

HRESULT CAsyncOutputPin::CheckMediaType(const CMediaType* pmt) {
    if (!pmt) return E_POINTER;
    CAutoLock lock(m_pLock);
    if (pmt->majortype != filterType_->majortype) return S_FALSE;
    if (filterType_->subtype == GUID_NULL || pmt->subtype == filterType_->subtype) return S_OK;
    return S_FALSE;
}

HRESULT CAsyncOutputPin::CheckConnect(IPin* pin) {
    queriedForAsyncReader_ = false;
    return CBasePin::CheckConnect(pin);
}

HRESULT CAsyncOutputPin::CompleteConnect(IPin* receivePin) {
    if (!queriedForAsyncReader_) return VFW_E_NO_TRANSPORT;
    return CBasePin::CompleteConnect(receivePin);
}

HRESULT CAsyncOutputPin::BreakConnect() {
    queriedForAsyncReader_ = false;
    return CBasePin::BreakConnect();
}

HRESULT CAsyncOutputPin::RequestAllocator(IMemAllocator* preferred, ALLOCATOR_PROPERTIES* props,
                                          IMemAllocator** actual) {
    if (!props || !actual) return E_POINTER;
    *actual = nullptr;
    if (props->cbAlign == 0 || !queue_->IsAligned(props->cbAlign))
        props->cbAlign = queue_->Alignment();

    ALLOCATOR_PROPERTIES got{};
    if (preferred) {
        HRESULT hr = preferred->SetProperties(props, &got);
        if (SUCCEEDED(hr) && queue_->IsAligned(got.cbAlign)) {
            preferred->AddRef();
            *actual = preferred;
            return S_OK;
        }
    }
    ComPtr<IMemAllocator> own;
    HRESULT hr = CMemAllocator::Create(&own);
    if (FAILED(hr)) return hr;
    hr = own->SetProperties(props, &got);
    if (FAILED(hr)) return hr;
    if (!queue_->IsAligned(got.cbAlign)) return VFW_E_BADALIGN;
    *actual = own.Detach();
    return S_OK;
}

HRESULT CAsyncOutputPin::Request(IMediaSample* sample, DWORD_PTR cookie) {
    return queue_->Request(sample, cookie);
}

HRESULT CAsyncOutputPin::WaitForNext(DWORD timeoutMs, IMediaSample** sample, DWORD_PTR* cookie) {
    return queue_->WaitForNext(timeoutMs, sample, cookie);
}

HRESULT CAsyncOutputPin::SyncReadAligned(IMediaSample* sample) {
    return queue_->SyncReadAligned(sample);
}

HRESULT CAsyncOutputPin::SyncRead(LONGLONG position, LONG length, BYTE* buffer) {
    return queue_->SyncRead(position, length, buffer);
}

HRESULT CAsyncOutputPin::Length(LONGLONG* total, LONGLONG* available) {
    return queue_->Length(total, available);
}

HRESULT CAsyncOutputPin::BeginFlush() { return queue_->BeginFlush(); }

HRESULT CAsyncOutputPin::EndFlush() { return queue_->EndFlush(); }
