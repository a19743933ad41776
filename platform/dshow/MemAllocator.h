// CMemAllocator: the platform memory allocator. Buffers are allocated at Commit
// with the negotiated count, size, alignment and prefix. Each sample handed out
// holds a reference on the allocator; its last Release returns it here.
// Safe from any thread: GetBuffer is called on streaming threads, Commit and
// Decommit by the pins on the application thread.
#pragma once

#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/dshow/Interfaces.h"
#include "platform/dshow/MediaSample.h"
#include "platform/dshow/Unknown.h"

class CMemAllocator : public CUnknown, public IMemAllocator {
public:
    CMemAllocator(const char* name, IUnknown* outer, HRESULT* phr);
    ~CMemAllocator() override;
    // A new allocator with one reference, as CoCreateInstance(CLSID_MemoryAllocator).
    static HRESULT Create(IMemAllocator** ppAllocator);

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // Rounds cbBuffer up to the alignment; E_INVALIDARG for a count or size
    // below 1 or an alignment that is not a power of two;
    // VFW_E_ALREADY_COMMITTED while committed, VFW_E_BUFFERS_OUTSTANDING while
    // samples are out.
    HRESULT SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) override;
    HRESULT GetProperties(ALLOCATOR_PROPERTIES* pProps) override;
    // VFW_E_SIZENOTSET before SetProperties; E_OUTOFMEMORY when buffers cannot be
    // allocated. Committing again is harmless.
    HRESULT Commit() override;
    // Wakes every GetBuffer waiter with VFW_E_NOT_COMMITTED; memory is freed when
    // the last sample comes back.
    HRESULT Decommit() override;
    // Blocks until a sample is free (AM_GBF_NOWAIT: VFW_E_TIMEOUT). The sample
    // comes with one reference and no times; pStart/pEnd are hints (unused).
    HRESULT GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStart, REFERENCE_TIME* pEnd,
                      DWORD dwFlags) override;
    HRESULT ReleaseBuffer(IMediaSample* pBuffer) override;

    // For tests: samples currently handed out.
    int OutstandingSamples();

private:
    void FreeMemoryLocked();

    std::mutex mutex_;
    std::condition_variable cv_;
    ALLOCATOR_PROPERTIES props_{};
    bool propsSet_ = false;
    bool committed_ = false;
    bool decommitPending_ = false;
    std::vector<CMediaSample*> all_;
    std::vector<CMediaSample*> free_;
    BYTE* memory_ = nullptr;
    int outstanding_ = 0;
};
