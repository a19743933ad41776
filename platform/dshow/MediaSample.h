// CMediaSample: one buffer of an allocator with its times and flags. The
// allocator owns the sample; the last Release hands it back to the allocator
// (ReleaseBuffer), which clears its times, flags and media type. Times, flags
// and length are set by the one thread that holds the sample at a time.
#pragma once

#include <atomic>

#include "platform/dshow/Interfaces.h"

class CMediaSample : public IMediaSample {
public:
    // buffer of length bytes (not owned; the allocator keeps it alive).
    CMediaSample(const char* name, IMemAllocator* allocator, BYTE* buffer, LONG length);
    virtual ~CMediaSample();
    CMediaSample(const CMediaSample&) = delete;
    CMediaSample& operator=(const CMediaSample&) = delete;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    // At zero: clears the sample and returns it to its allocator (not deleted).
    ULONG Release() override;

    HRESULT GetPointer(BYTE** ppBuffer) override;
    LONG GetSize() override;
    HRESULT GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
    HRESULT SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
    HRESULT IsSyncPoint() override;
    HRESULT SetSyncPoint(BOOL b) override;
    HRESULT IsPreroll() override;
    HRESULT SetPreroll(BOOL b) override;
    LONG GetActualDataLength() override;
    HRESULT SetActualDataLength(LONG length) override;
    HRESULT GetMediaType(AM_MEDIA_TYPE** ppMediaType) override;
    HRESULT SetMediaType(AM_MEDIA_TYPE* pMediaType) override;
    HRESULT IsDiscontinuity() override;
    HRESULT SetDiscontinuity(BOOL b) override;
    HRESULT GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) override;
    HRESULT SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) override;

    // For allocators: point the sample at another buffer (while it is free).
    void SetBuffer(BYTE* buffer, LONG length);
    // For allocators: clear times, flags, length and media type.
    void ResetProperties();
    // Current reference count (for allocators and tests).
    LONG RefCount() const { return cRef_.load(); }

private:
    std::atomic<LONG> cRef_{0};
    IMemAllocator* allocator_;
    BYTE* buffer_;
    LONG cbBuffer_;
    LONG cbActual_ = 0;
    REFERENCE_TIME start_ = 0, end_ = 0;
    LONGLONG mediaStart_ = 0, mediaEnd_ = 0;
    bool hasStart_ = false, hasEnd_ = false, hasMediaTime_ = false;
    bool syncPoint_ = false, preroll_ = false, discontinuity_ = false;
    AM_MEDIA_TYPE* mediaType_ = nullptr; // task memory, owned
};
