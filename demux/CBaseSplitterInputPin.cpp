#include "demux/CBaseSplitterInputPin.h"

#include "demux/CBaseSplitterFilter.h"

CBaseSplitterInputPin::CBaseSplitterInputPin(CBaseSplitterFilter* filter, CCritSec* lock,
                                             HRESULT* phr)
    : CBasePin("splitter input pin", filter, lock, phr, L"Input", PINDIR_INPUT), splitter_(filter) {
}

CBaseSplitterInputPin::~CBaseSplitterInputPin() = default;

HRESULT CBaseSplitterInputPin::CheckMediaType(const CMediaType*) {
    return S_OK;
}

HRESULT CBaseSplitterInputPin::CheckConnect(IPin* pin) {
    HRESULT hr = CBasePin::CheckConnect(pin);
    if (FAILED(hr)) return hr;
    if (!pin || !ComPtr<IPin>(pin).As<IAsyncReader>()) return E_NOINTERFACE;
    return S_OK;
}

HRESULT CBaseSplitterInputPin::CompleteConnect(IPin* pin) {
    HRESULT hr = CBasePin::CompleteConnect(pin);
    if (FAILED(hr)) return hr;
    reader_ = ComPtr<IPin>(pin).As<IAsyncReader>();
    if (!reader_) return E_NOINTERFACE;
    hr = splitter_->RemoveOutputPins();
    if (FAILED(hr)) return hr;
    return splitter_->CreateOutputPins(reader_.Get());
}

HRESULT CBaseSplitterInputPin::BreakConnect() {
    splitter_->RemoveOutputPins();
    reader_.Reset();
    return CBasePin::BreakConnect();
}
