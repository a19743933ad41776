#include "platform/dshow/Enumerators.h"

#include <new>

#include "platform/dshow/BaseFilter.h"
#include "platform/dshow/BasePin.h"

CEnumPins::CEnumPins(CBaseFilter* filter, int position)
    : CUnknown("CEnumPins", nullptr), filter_(filter), position_(position),
      version_(filter->GetPinVersion()) {
    filter_->AddRef();
}

CEnumPins::~CEnumPins() { filter_->Release(); }

HRESULT CEnumPins::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IEnumPins) return ::GetInterface(static_cast<IEnumPins*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CEnumPins::Next(ULONG c, IPin** pp, ULONG* fetched) {
    if (!pp) return E_POINTER;
    if (fetched) *fetched = 0;
    else if (c > 1) return E_INVALIDARG;
    if (version_ != filter_->GetPinVersion()) return VFW_E_ENUM_OUT_OF_SYNC;
    ULONG n = 0;
    while (n < c) {
        CBasePin* pin = position_ < filter_->GetPinCount() ? filter_->GetPin(position_) : nullptr;
        if (!pin) break;
        ++position_;
        pp[n] = pin;
        pin->AddRef();
        ++n;
    }
    if (fetched) *fetched = n;
    return n == c ? S_OK : S_FALSE;
}

HRESULT CEnumPins::Skip(ULONG c) {
    if (version_ != filter_->GetPinVersion()) return VFW_E_ENUM_OUT_OF_SYNC;
    int left = filter_->GetPinCount() - position_;
    if (LONG(c) > left) return S_FALSE;
    position_ += int(c);
    return S_OK;
}

HRESULT CEnumPins::Reset() {
    version_ = filter_->GetPinVersion();
    position_ = 0;
    return S_OK;
}

HRESULT CEnumPins::Clone(IEnumPins** pp) {
    if (!pp) return E_POINTER;
    auto* e = new (std::nothrow) CEnumPins(filter_, position_);
    if (!e) return E_OUTOFMEMORY;
    e->version_ = version_;
    return ::GetInterface(static_cast<IEnumPins*>(e), reinterpret_cast<void**>(pp));
}

CEnumMediaTypes::CEnumMediaTypes(CBasePin* pin, int position)
    : CUnknown("CEnumMediaTypes", nullptr), pin_(pin), position_(position),
      version_(pin->GetMediaTypeVersion()) {
    pin_->AddRef();
}

CEnumMediaTypes::~CEnumMediaTypes() { pin_->Release(); }

HRESULT CEnumMediaTypes::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IEnumMediaTypes)
        return ::GetInterface(static_cast<IEnumMediaTypes*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CEnumMediaTypes::Next(ULONG c, AM_MEDIA_TYPE** pp, ULONG* fetched) {
    if (!pp) return E_POINTER;
    if (fetched) *fetched = 0;
    else if (c > 1) return E_INVALIDARG;
    if (version_ != pin_->GetMediaTypeVersion()) return VFW_E_ENUM_OUT_OF_SYNC;
    ULONG n = 0;
    while (n < c) {
        CMediaType mt;
        HRESULT hr = pin_->GetMediaType(position_, &mt);
        if (hr != S_OK) break;
        ++position_;
        pp[n] = CreateMediaType(&mt);
        if (!pp[n]) break;
        ++n;
    }
    if (fetched) *fetched = n;
    return n == c ? S_OK : S_FALSE;
}

HRESULT CEnumMediaTypes::Skip(ULONG c) {
    if (version_ != pin_->GetMediaTypeVersion()) return VFW_E_ENUM_OUT_OF_SYNC;
    while (c > 0) {
        CMediaType mt;
        if (pin_->GetMediaType(position_, &mt) != S_OK) return S_FALSE;
        ++position_;
        --c;
    }
    return S_OK;
}

HRESULT CEnumMediaTypes::Reset() {
    version_ = pin_->GetMediaTypeVersion();
    position_ = 0;
    return S_OK;
}

HRESULT CEnumMediaTypes::Clone(IEnumMediaTypes** pp) {
    if (!pp) return E_POINTER;
    auto* e = new (std::nothrow) CEnumMediaTypes(pin_, position_);
    if (!e) return E_OUTOFMEMORY;
    e->version_ = version_;
    return ::GetInterface(static_cast<IEnumMediaTypes*>(e), reinterpret_cast<void**>(pp));
}
