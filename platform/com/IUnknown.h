// The root of every reference-counted interface. Interfaces are abstract
// classes whose virtual methods keep the slot order of the original platform;
// each names its identifier as a static member `kIid` so templates can find it.
#pragma once

#include "platform/com/Guid.h"
#include "platform/com/HResult.h"
#include "platform/com/WinTypes.h"

constexpr IID IID_IUnknown = MakeGuid("00000000-0000-0000-C000-000000000046");

struct IUnknown {
    static constexpr const IID& kIid = IID_IUnknown;

    // On success *ppv holds an added reference the caller releases; on failure
    // *ppv is null. E_POINTER when ppv is null, E_NOINTERFACE when unknown.
    virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
    // Both return the new count; the object deletes itself when it reaches 0.
    // Safe from any thread.
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};

// Identifier of an interface type, for templates.
template <class T>
constexpr const IID& IidOf() {
    return T::kIid;
}
