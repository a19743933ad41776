// The component registry: where stages register under their class identifiers
// so that CoCreateInstance can make them and the graph's intelligent connect and
// Render can offer them. The one registration list of the program is built by
// calling Register at start-up (platform/media registers the decoders and
// renderers); tests register their own with ComponentRegistration.
//
// Built in: CLSID_FilterGraph, CLSID_MemoryAllocator, CLSID_SystemClock (merit
// MERIT_DO_NOT_USE: never picked by intelligent connect). Safe from any thread.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/dshow/Interfaces.h"

struct ComponentInfo {
    CLSID clsid{};
    std::wstring name;             // the name the graph gives the filter it adds
    DWORD merit = MERIT_NORMAL;    // higher first; <= MERIT_DO_NOT_USE: never automatic
    // Major type / subtype pairs its input accepts (GUID_NULL matches any); empty
    // = try it with anything.
    std::vector<std::pair<GUID, GUID>> inputTypes;
    // Makes a new object and returns interface riid with one reference in *ppv.
    std::function<HRESULT(IUnknown* outer, REFIID riid, void** ppv)> create;
};

class ComponentRegistry {
public:
    static ComponentRegistry& Instance();

    // Adds or replaces the entry of info.clsid. E_INVALIDARG without create.
    HRESULT Register(ComponentInfo info);
    // False when the class was not registered.
    bool Unregister(REFCLSID clsid);
    std::optional<ComponentInfo> Find(REFCLSID clsid) const;
    // Entries above MERIT_DO_NOT_USE, highest merit first (then registration
    // order), whose input types match one of the given (major, sub) pairs; an
    // empty list of offered types matches every entry.
    std::vector<ComponentInfo> Candidates(const std::vector<std::pair<GUID, GUID>>& offered) const;
    // REGDB_E_CLASSNOTREG when unknown; otherwise the factory's result.
    HRESULT CreateInstance(REFCLSID clsid, IUnknown* outer, REFIID riid, void** ppv) const;

private:
    ComponentRegistry();
    mutable std::mutex mutex_;
    std::vector<ComponentInfo> entries_;
};

// Registers on construction and unregisters on destruction (tests, plug-ins).
class ComponentRegistration {
public:
    explicit ComponentRegistration(ComponentInfo info);
    ~ComponentRegistration();
    ComponentRegistration(const ComponentRegistration&) = delete;
    ComponentRegistration& operator=(const ComponentRegistration&) = delete;

private:
    CLSID clsid_;
};

// Creation by class identifier through the registry: the
// context is accepted and ignored. *ppv null on failure.
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         void** ppv);

// Helper for factories of CUnknown-derived classes made with new:
//   info.create = MakeFactory([](IUnknown* outer, HRESULT* phr) { return new CMyFilter(outer, phr); });
template <class MakeFn>
std::function<HRESULT(IUnknown*, REFIID, void**)> MakeFactory(MakeFn make) {
    return [make](IUnknown* outer, REFIID riid, void** ppv) -> HRESULT {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        HRESULT hr = S_OK;
        auto* obj = make(outer, &hr);
        if (!obj) return E_OUTOFMEMORY;
        obj->NonDelegatingAddRef();
        if (SUCCEEDED(hr)) hr = obj->NonDelegatingQueryInterface(riid, ppv);
        obj->NonDelegatingRelease();
        return hr;
    };
}
