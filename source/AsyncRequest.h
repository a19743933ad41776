// One read of `length` bytes at byte `position` of a stream into a caller's
// buffer, optionally on behalf of a media sample. Built by the request queue
// (queued reads) or on the caller's stack (synchronous reads).
//
// Ownership: the buffer belongs to the caller (or to the sample) and must
// outlive the request; the request holds a reference to the sample, if any.
#pragma once

#include "platform/com/ComPtr.h"
#include "platform/dshow/Interfaces.h"
#include "source/CAsyncStream.h"

class AsyncRequest {
public:
    AsyncRequest(CAsyncStream* stream, LONGLONG position, LONG length, BOOL aligned, BYTE* buffer,
                 IMediaSample* sample, DWORD_PTR cookie);

    // Seeks and reads under the stream's lock, on the calling thread. The
    // result is S_OK for a full read, S_FALSE for a short one (Length() then
    // gives the bytes read), or the failure of the seek or the read.
    HRESULT Complete();

    HRESULT Result() const { return result_; }
    LONGLONG Position() const { return position_; }
    // The requested length until completed, then the length actually read.
    LONG Length() const { return length_; }
    IMediaSample* Sample() const { return sample_.Get(); }
    DWORD_PTR Cookie() const { return cookie_; }

private:
    CAsyncStream* stream_;
    LONGLONG position_;
    LONG length_;
    BOOL aligned_;
    BYTE* buffer_;
    ComPtr<IMediaSample> sample_;
    DWORD_PTR cookie_;
    // Until completed (or when flushed away unread): VFW_E_TIMEOUT.
    HRESULT result_;
};
