#include "platform/dshow/Unknown.h"

CUnknown::CUnknown(const char* name, IUnknown* outer, HRESULT*) : name_(name) {
    identity_.self = this;
    owner_ = outer ? outer : &identity_;
}

CUnknown::~CUnknown() = default;

HRESULT CUnknown::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown) return GetInterface(static_cast<IUnknown*>(&identity_), ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CUnknown::NonDelegatingAddRef() { return ULONG(++m_cRef); }

ULONG CUnknown::NonDelegatingRelease() {
    LONG n = --m_cRef;
    if (n == 0) {
        // Guard against re-entry from the destructor releasing a reference to us.
        m_cRef = 1;
        delete this;
        return 0;
    }
    return ULONG(n);
}

HRESULT GetInterface(INonDelegatingUnknown* p, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = p;
    p->NonDelegatingAddRef();
    return S_OK;
}
