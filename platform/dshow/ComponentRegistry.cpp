#include "platform/dshow/ComponentRegistry.h"

#include <algorithm>
#include <new>

#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/MemAllocator.h"
#include "platform/dshow/SystemClock.h"

ComponentRegistry& ComponentRegistry::Instance() {
    static ComponentRegistry registry;
    return registry;
}

ComponentRegistry::ComponentRegistry() {
    entries_.push_back(ComponentInfo{
        CLSID_FilterGraph, L"Filter Graph", MERIT_DO_NOT_USE, {}, MakeFactory([](IUnknown* outer, HRESULT* phr) {
            return new (std::nothrow) FilterGraph(outer, phr);
        })});
    entries_.push_back(ComponentInfo{
        CLSID_MemoryAllocator, L"Memory Allocator", MERIT_DO_NOT_USE, {},
        MakeFactory([](IUnknown* outer, HRESULT* phr) {
            return new (std::nothrow) CMemAllocator("CMemAllocator", outer, phr);
        })});
    entries_.push_back(ComponentInfo{
        CLSID_SystemClock, L"System Clock", MERIT_DO_NOT_USE, {},
        MakeFactory([](IUnknown* outer, HRESULT* phr) {
            return new (std::nothrow) CSystemClock("CSystemClock", outer, phr);
        })});
}

HRESULT ComponentRegistry::Register(ComponentInfo info) {
    if (!info.create) return E_INVALIDARG;
    std::lock_guard lk(mutex_);
    for (auto& e : entries_)
        if (e.clsid == info.clsid) {
            e = std::move(info);
            return S_OK;
        }
    entries_.push_back(std::move(info));
    return S_OK;
}

bool ComponentRegistry::Unregister(REFCLSID clsid) {
    std::lock_guard lk(mutex_);
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [&](const ComponentInfo& e) { return e.clsid == clsid; });
    if (it == entries_.end()) return false;
    entries_.erase(it);
    return true;
}

std::optional<ComponentInfo> ComponentRegistry::Find(REFCLSID clsid) const {
    std::lock_guard lk(mutex_);
    for (const auto& e : entries_)
        if (e.clsid == clsid) return e;
    return std::nullopt;
}

std::vector<ComponentInfo> ComponentRegistry::Candidates(
    const std::vector<std::pair<GUID, GUID>>& offered) const {
    std::vector<ComponentInfo> out;
    {
        std::lock_guard lk(mutex_);
        for (const auto& e : entries_) {
            if (e.merit <= MERIT_DO_NOT_USE) continue;
            bool match = offered.empty() || e.inputTypes.empty();
            for (const auto& [major, sub] : e.inputTypes) {
                for (const auto& [om, os] : offered) {
                    if ((major == GUID_NULL || om == GUID_NULL || major == om) &&
                        (sub == GUID_NULL || os == GUID_NULL || sub == os))
                        match = true;
                }
            }
            if (match) out.push_back(e);
        }
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const ComponentInfo& a, const ComponentInfo& b) { return a.merit > b.merit; });
    return out;
}

HRESULT ComponentRegistry::CreateInstance(REFCLSID clsid, IUnknown* outer, REFIID riid,
                                          void** ppv) const {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    std::function<HRESULT(IUnknown*, REFIID, void**)> create;
    {
        std::lock_guard lk(mutex_);
        for (const auto& e : entries_)
            if (e.clsid == clsid) create = e.create;
    }
    if (!create) return REGDB_E_CLASSNOTREG;
    // Aggregation needs the inner IUnknown.
    if (outer && !(riid == IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    return create(outer, riid, ppv);
}

ComponentRegistration::ComponentRegistration(ComponentInfo info) : clsid_(info.clsid) {
    ComponentRegistry::Instance().Register(std::move(info));
}

ComponentRegistration::~ComponentRegistration() { ComponentRegistry::Instance().Unregister(clsid_); }

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* outer, DWORD, REFIID riid, void** ppv) {
    return ComponentRegistry::Instance().CreateInstance(rclsid, outer, riid, ppv);
}
