// Enumerators handed out by filters (IEnumPins) and pins (IEnumMediaTypes).
// Each holds a reference on its filter or pin; used on one thread at a time.
#pragma once

#include "platform/dshow/Interfaces.h"
#include "platform/dshow/Unknown.h"

class CBaseFilter;
class CBasePin;

class CEnumPins : public CUnknown, public IEnumPins {
public:
    explicit CEnumPins(CBaseFilter* filter, int position = 0);
    ~CEnumPins() override;
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    HRESULT Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) override;
    HRESULT Skip(ULONG cPins) override;
    HRESULT Reset() override;
    HRESULT Clone(IEnumPins** ppEnum) override;

private:
    CBaseFilter* filter_;
    int position_;
    LONG version_;
};

class CEnumMediaTypes : public CUnknown, public IEnumMediaTypes {
public:
    explicit CEnumMediaTypes(CBasePin* pin, int position = 0);
    ~CEnumMediaTypes() override;
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    HRESULT Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) override;
    HRESULT Skip(ULONG cMediaTypes) override;
    HRESULT Reset() override;
    HRESULT Clone(IEnumMediaTypes** ppEnum) override;

private:
    CBasePin* pin_;
    int position_;
    LONG version_;
};
