// CAsyncOutputPin: the output pin "Output" of a pull source. It offers the
// filter's byte-stream type and the pull transport IAsyncReader, whose reads
// it hands to the filter's request queue. A peer that never asks for
// IAsyncReader while connecting cannot connect (VFW_E_NO_TRANSPORT).
//
// Threads: connection calls on the application thread under the filter
// lock; the IAsyncReader methods from the consumer's threads (any).
// The pin lives inside its filter and shares its reference count.
#pragma once

#include <atomic>

#include "platform/dshow/BasePin.h"
#include "source/AsyncRequestQueue.h"

class CAsyncOutputPin : public CBasePin, public IAsyncReader {
public:
    // filterType: the filter's media type (owned by the filter, read under
    // `lock`). queue: the filter's request queue. Both outlive the pin.
    CAsyncOutputPin(HRESULT* phr, CBaseFilter* filter, CCritSec* lock, AsyncRequestQueue* queue,
                    const CMediaType* filterType);

    DECLARE_IUNKNOWN
    // Answers IAsyncReader (noting that the peer asked) besides IPin.
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // -- connection
    // 0: the filter's type; above 0: VFW_S_NO_MORE_ITEMS; below: E_INVALIDARG.
    HRESULT GetMediaType(int position, CMediaType* pmt) override;
    // S_OK for the filter's major type with its subtype (any subtype when the
    // filter's is GUID_NULL); S_FALSE otherwise.
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT CheckConnect(IPin* pin) override;
    HRESULT CompleteConnect(IPin* receivePin) override;
    HRESULT BreakConnect() override;

    // -- IAsyncReader (bytes; sample times are byte offsets x 10,000,000)
    // The preferred allocator if it takes the properties with an alignment
    // the stream accepts, else a new memory allocator; *actual carries a
    // reference.
    HRESULT RequestAllocator(IMemAllocator* preferred, ALLOCATOR_PROPERTIES* props,
                             IMemAllocator** actual) override;
    HRESULT Request(IMediaSample* sample, DWORD_PTR cookie) override;
    HRESULT WaitForNext(DWORD timeoutMs, IMediaSample** sample, DWORD_PTR* cookie) override;
    HRESULT SyncReadAligned(IMediaSample* sample) override;
    HRESULT SyncRead(LONGLONG position, LONG length, BYTE* buffer) override;
    HRESULT Length(LONGLONG* total, LONGLONG* available) override;
    // Serve both IPin and IAsyncReader: flush the request queue.
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;

private:
    AsyncRequestQueue* const queue_;
    const CMediaType* const filterType_;
    // The peer asked for IAsyncReader since the connection attempt began.
    std::atomic<bool> queriedForAsyncReader_{false};
};
