// A random-access byte stream behind an asynchronous reader pin. The request
// queue and the pin's synchronous reads drive it; one request is one
// Lock / SetPointer / Read / Unlock sequence, so concurrent callers never
// interleave inside a request.
#pragma once

#include "platform/com/HResult.h"
#include "platform/com/WinTypes.h"

class CAsyncStream {
public:
    virtual ~CAsyncStream() = default;

    // Moves the read position to `pos` (bytes from the start of the stream).
    virtual HRESULT SetPointer(LONGLONG pos) = 0;
    // Copies up to `count` bytes from the read position into `dest` and
    // advances the position. `aligned` is a hint some streams ignore.
    // *read (optional) receives the bytes copied. S_OK when some bytes were
    // copied (a short count means the end was reached), E_FAIL when none.
    virtual HRESULT Read(BYTE* dest, DWORD count, BOOL aligned, DWORD* read) = 0;
    // Total length in bytes; *available (optional) receives the length that
    // can be read now.
    virtual LONGLONG Size(LONGLONG* available = nullptr) = 0;
    // Required alignment of positions, lengths and buffers, a power of two.
    virtual DWORD Alignment() = 0;
    // The stream's own lock; re-entrant, so SetPointer and Read may take it
    // again while a caller holds it.
    virtual void Lock() = 0;
    virtual void Unlock() = 0;
};
