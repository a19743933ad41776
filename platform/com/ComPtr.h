// Owning pointer to a reference-counted interface: copies add a reference,
// destruction releases it.
#pragma once

#include <utility>

#include "platform/com/IUnknown.h"

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Adds a reference to p.
    ComPtr(T* p) : p_(p) {
        if (p_) p_->AddRef();
    }
    ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    template <class U>
    ComPtr(const ComPtr<U>& o) : ComPtr(static_cast<T*>(o.Get())) {}
    ~ComPtr() { Reset(); }

    ComPtr& operator=(const ComPtr& o) {
        ComPtr(o).Swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& o) noexcept {
        ComPtr(std::move(o)).Swap(*this);
        return *this;
    }
    ComPtr& operator=(T* p) {
        ComPtr(p).Swap(*this);
        return *this;
    }

    // Takes over a reference the caller already holds (no AddRef).
    static ComPtr Adopt(T* p) {
        ComPtr c;
        c.p_ = p;
        return c;
    }
    void Attach(T* p) {
        Reset();
        p_ = p;
    }
    // Hands the reference to the caller.
    T* Detach() { return std::exchange(p_, nullptr); }
    void Reset() {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    void Swap(ComPtr& o) noexcept { std::swap(p_, o.p_); }

    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    T& operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }
    operator T*() const { return p_; }

    // Releases the current pointer and returns the slot for an out parameter.
    T** ReleaseAndGetAddressOf() {
        Reset();
        return &p_;
    }
    T** operator&() { return ReleaseAndGetAddressOf(); }

    // QueryInterface for U; a null ComPtr when the object does not offer it.
    template <class U>
    ComPtr<U> As() const {
        ComPtr<U> out;
        if (p_) p_->QueryInterface(IidOf<U>(), reinterpret_cast<void**>(out.ReleaseAndGetAddressOf()));
        return out;
    }

private:
    T* p_ = nullptr;
};

// Writes an added reference to p into *ppv; the shape every QueryInterface uses.
template <class T>
HRESULT GetInterface(T* p, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = p;
    p->AddRef();
    return S_OK;
}
