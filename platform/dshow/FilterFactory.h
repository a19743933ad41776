// The two creation functions every filter of the system offers, written once.
// T is a filter class with a constructor T(IUnknown* outer, HRESULT* phr).
#pragma once

#include <new>

#include "platform/dshow/Interfaces.h"
#include "platform/dshow/Unknown.h"

// A new T with no reference held (the component registry's factory shape).
// *phr: E_OUTOFMEMORY when it cannot be allocated, else what the constructor
// reported; on a constructor failure the object is still returned, for the
// caller to take a reference to and release.
template <class T>
CUnknown* CreateFilterInstance(IUnknown* outer, HRESULT* phr) {
    HRESULT hr = S_OK;
    T* filter = new (std::nothrow) T(outer, &hr);
    if (!filter) hr = E_OUTOFMEMORY;
    if (phr) *phr = hr;
    return filter;
}

// A new T as IBaseFilter with one reference for the caller; nothing is kept
// when the constructor fails.
template <class T>
HRESULT CreateFilter(IBaseFilter** ppFilter) {
    if (!ppFilter) return E_POINTER;
    *ppFilter = nullptr;
    HRESULT hr = S_OK;
    T* filter = new (std::nothrow) T(nullptr, &hr);
    if (!filter) return E_OUTOFMEMORY;
    filter->NonDelegatingAddRef();
    if (FAILED(hr)) {
        filter->NonDelegatingRelease();
        return hr;
    }
    *ppFilter = static_cast<IBaseFilter*>(filter);
    return S_OK;
}
