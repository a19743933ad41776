#include "source/CAsyncReader.h"

CAsyncReader::CAsyncReader(const char* name, IUnknown* outer, CAsyncStream* stream,
                           REFCLSID clsid, HRESULT* phr)
    : CBaseFilter(name, outer, &csFilter_, clsid, phr), queue_(stream),
      pin_(phr, this, &csFilter_, &queue_, &mt_) {}

CAsyncReader::~CAsyncReader() = default;

CBasePin* CAsyncReader::GetPin(int n) { return n == 0 ? &pin_ : nullptr; }

HRESULT CAsyncReader::SetOutputType(const CMediaType& mt) {
    CAutoLock lock(&csFilter_);
    return mt_.Set(mt);
}
