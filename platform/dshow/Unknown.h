// CUnknown: the reference-counting base of every framework object (filters,
// pins, allocators, enumerators, the graph). It implements the non-delegating
// IUnknown (atomic count, self-deletion at zero) and supports aggregation: an
// object made with an outer IUnknown forwards its public IUnknown to it.
//
// A class that implements interfaces derives from CUnknown and the interfaces,
// puts DECLARE_IUNKNOWN in its body and overrides NonDelegatingQueryInterface,
// answering its interfaces with GetInterface and passing the rest to its base.
#pragma once

#include <atomic>

#include "platform/com/ComPtr.h"
#include "platform/com/IUnknown.h"

struct INonDelegatingUnknown {
    virtual HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG NonDelegatingAddRef() = 0;
    virtual ULONG NonDelegatingRelease() = 0;

protected:
    ~INonDelegatingUnknown() = default;
};

class CUnknown : public INonDelegatingUnknown {
public:
    // name is for traces only (may be null). outer null: the object is its own
    // identity. phr is not touched (kept for the usual signature).
    CUnknown(const char* name, IUnknown* outer, HRESULT* phr = nullptr);
    CUnknown(const CUnknown&) = delete;
    CUnknown& operator=(const CUnknown&) = delete;
    virtual ~CUnknown();

    // IID_IUnknown gives the object's identity; others E_NOINTERFACE.
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    ULONG NonDelegatingAddRef() override;
    // Deletes the object when the count reaches 0.
    ULONG NonDelegatingRelease() override;

    // The IUnknown the public IUnknown methods forward to: the outer object, or
    // this object's own identity.
    IUnknown* GetOwner() const { return owner_; }
    const char* ObjectName() const { return name_; }

protected:
    std::atomic<LONG> m_cRef{0};

private:
    // The identity of an object without an outer: forwards to the
    // non-delegating methods.
    struct Identity final : IUnknown {
        CUnknown* self;
        HRESULT QueryInterface(REFIID riid, void** ppv) override {
            return self->NonDelegatingQueryInterface(riid, ppv);
        }
        ULONG AddRef() override { return self->NonDelegatingAddRef(); }
        ULONG Release() override { return self->NonDelegatingRelease(); }
    };
    Identity identity_;
    IUnknown* owner_;
    const char* name_;
};

// Public IUnknown of a CUnknown-derived class: forwards to the owner.
#define DECLARE_IUNKNOWN                                                                           \
    HRESULT QueryInterface(REFIID riid, void** ppv) override {                                     \
        return GetOwner()->QueryInterface(riid, ppv);                                              \
    }                                                                                              \
    ULONG AddRef() override { return GetOwner()->AddRef(); }                                       \
    ULONG Release() override { return GetOwner()->Release(); }

// Writes an added non-delegating reference to an inner object into *ppv.
HRESULT GetInterface(INonDelegatingUnknown* p, void** ppv);
