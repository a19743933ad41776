#include "platform/dshow/MemAllocator.h"

#include <cstdlib>
#include <new>

CMemAllocator::CMemAllocator(const char* name, IUnknown* outer, HRESULT* phr)
    : CUnknown(name, outer, phr) {}

CMemAllocator::~CMemAllocator() {
    std::lock_guard lk(mutex_);
    FreeMemoryLocked();
}

HRESULT CMemAllocator::Create(IMemAllocator** pp) {
    if (!pp) return E_POINTER;
    auto* a = new (std::nothrow) CMemAllocator("CMemAllocator", nullptr, nullptr);
    if (!a) return E_OUTOFMEMORY;
    a->NonDelegatingAddRef();
    *pp = a;
    return S_OK;
}

HRESULT CMemAllocator::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IMemAllocator) return ::GetInterface(static_cast<IMemAllocator*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CMemAllocator::SetProperties(ALLOCATOR_PROPERTIES* req, ALLOCATOR_PROPERTIES* actual) {
    if (!req || !actual) return E_POINTER;
    std::lock_guard lk(mutex_);
    if (committed_) return VFW_E_ALREADY_COMMITTED;
    if (outstanding_ > 0) return VFW_E_BUFFERS_OUTSTANDING;
    LONG align = req->cbAlign == 0 ? 1 : req->cbAlign;
    if (req->cBuffers < 1 || req->cbBuffer < 1 || align < 1 || (align & (align - 1)) != 0 ||
        req->cbPrefix < 0)
        return E_INVALIDARG;
    props_.cBuffers = req->cBuffers;
    props_.cbBuffer = (req->cbBuffer + align - 1) / align * align;
    props_.cbAlign = align;
    props_.cbPrefix = req->cbPrefix;
    propsSet_ = true;
    *actual = props_;
    return S_OK;
}

HRESULT CMemAllocator::GetProperties(ALLOCATOR_PROPERTIES* p) {
    if (!p) return E_POINTER;
    std::lock_guard lk(mutex_);
    *p = props_;
    return S_OK;
}

HRESULT CMemAllocator::Commit() {
    std::lock_guard lk(mutex_);
    if (!propsSet_) return VFW_E_SIZENOTSET;
    decommitPending_ = false;
    if (committed_) return S_OK;
    if (!memory_) {
        if (outstanding_ > 0) return VFW_E_BUFFERS_OUTSTANDING;
        // Each buffer: prefix, then cbBuffer bytes, the data aligned to cbAlign.
        std::size_t stride = std::size_t(props_.cbPrefix) + std::size_t(props_.cbBuffer);
        std::size_t align = std::size_t(props_.cbAlign);
        stride = (stride + align - 1) / align * align;
        std::size_t total = stride * std::size_t(props_.cBuffers) + align + props_.cbPrefix;
        memory_ = static_cast<BYTE*>(std::malloc(total));
        if (!memory_) return E_OUTOFMEMORY;
        auto base = reinterpret_cast<std::uintptr_t>(memory_) + std::uintptr_t(props_.cbPrefix);
        base = (base + align - 1) / align * align;
        for (LONG i = 0; i < props_.cBuffers; ++i) {
            BYTE* data = reinterpret_cast<BYTE*>(base + stride * std::size_t(i));
            auto* s = new (std::nothrow) CMediaSample("sample", this, data, props_.cbBuffer);
            if (!s) {
                FreeMemoryLocked();
                return E_OUTOFMEMORY;
            }
            all_.push_back(s);
            free_.push_back(s);
        }
    }
    committed_ = true;
    return S_OK;
}

HRESULT CMemAllocator::Decommit() {
    std::unique_lock lk(mutex_);
    if (!committed_) return S_OK;
    committed_ = false;
    if (outstanding_ == 0)
        FreeMemoryLocked();
    else
        decommitPending_ = true;
    lk.unlock();
    cv_.notify_all();
    return S_OK;
}

HRESULT CMemAllocator::GetBuffer(IMediaSample** pp, REFERENCE_TIME* pStart, REFERENCE_TIME* pEnd,
                                 DWORD flags) {
    if (!pp) return E_POINTER;
    *pp = nullptr;
    CMediaSample* s = nullptr;
    {
        std::unique_lock lk(mutex_);
        for (;;) {
            if (!committed_) return VFW_E_NOT_COMMITTED;
            if (!free_.empty()) break;
            if (flags & AM_GBF_NOWAIT) return VFW_E_TIMEOUT;
            cv_.wait(lk);
        }
        s = free_.back();
        free_.pop_back();
        ++outstanding_;
    }
    // The sample holds a reference on its allocator while it is out.
    NonDelegatingAddRef();
    s->AddRef();
    *pp = s;
    return S_OK;
}

HRESULT CMemAllocator::ReleaseBuffer(IMediaSample* p) {
    auto* s = static_cast<CMediaSample*>(p);
    {
        std::lock_guard lk(mutex_);
        free_.push_back(s);
        --outstanding_;
        if (outstanding_ == 0 && decommitPending_) {
            decommitPending_ = false;
            FreeMemoryLocked();
        }
    }
    cv_.notify_one();
    NonDelegatingRelease();
    return S_OK;
}

int CMemAllocator::OutstandingSamples() {
    std::lock_guard lk(mutex_);
    return outstanding_;
}

void CMemAllocator::FreeMemoryLocked() {
    for (CMediaSample* s : all_) delete s;
    all_.clear();
    free_.clear();
    std::free(memory_);
    memory_ = nullptr;
}
