// Cached byte and bit reader over a pull byte source (IAsyncReader).
//
// Used by one thread at a time (the thread that builds the parser, then the
// demultiplexer's worker). Offsets and lengths are in bytes. Reads go through a
// cache block (65536 bytes for the MPEG parser); requests larger than the cache
// bypass it. Bits are read most significant first; a failed read yields 0 bits,
// which header readers reject at their next check.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/com/ComPtr.h"
#include "platform/com/HResult.h"
#include "platform/com/WinTypes.h"
#include "platform/dshow/Interfaces.h"

class CBaseSplitterFile {
public:
    // Keeps a reference on `reader` for the object's life. `hr` receives E_FAIL when
    // Length fails, the length is negative, random access is required but absent, or
    // the source streams (length 0, available > 0) and streaming is not allowed;
    // E_OUTOFMEMORY when the cache cannot be allocated; else S_OK. `cacheBytes` 0
    // reads without a cache.
    CBaseSplitterFile(IAsyncReader* reader, HRESULT& hr, int cacheBytes, bool randomAccessRequired,
                      bool streamingAllowed);
    CBaseSplitterFile(const CBaseSplitterFile&) = delete;
    CBaseSplitterFile& operator=(const CBaseSplitterFile&) = delete;

    // Reads `count` bytes at the current position into `dst` and advances past them.
    // S_OK when all were read; S_FALSE when the data ends first; the source's error
    // otherwise; E_NOINTERFACE without a source. Drops no buffered bits: callers go
    // through ReadBytes.
    virtual HRESULT Read(BYTE* dst, std::int64_t count);
    // Called once when a source that was not randomly accessible becomes so.
    virtual void OnComplete() {}
    virtual ~CBaseSplitterFile();
    // Moves to `offset` clamped to [0, length] and empties the bit buffer.
    virtual void Seek(std::int64_t offset);

    // Offset of the next unread byte (buffered whole bytes count as unread).
    std::int64_t GetPos() const { return pos_ - bitCount_ / 8; }
    // Last known length; refreshed from the source when `update` is set, and on
    // every call for a streaming source.
    std::int64_t GetLength(bool update = false);
    // Bytes between the position and the (refreshed) length, never negative.
    std::int64_t GetRemaining();
    bool IsStreaming() const { return streaming_; }
    bool IsRandomAccess() const { return randomAccess_; }

    // Next `count` bits (0..64) as an unsigned number; `peek` leaves them unread.
    std::uint64_t ReadBits(int count, bool peek = false);
    // Drops the bits up to the next byte boundary.
    void AlignToByte();
    // Drops all buffered bits: the position becomes byte-exact.
    void FlushBits();
    // Moves to the next byte equal to `value` within `limit` bytes (buffered bits
    // dropped first); true with the position at it, false after the bytes looked at.
    bool SkipToByte(BYTE value, std::int64_t limit);
    // Byte read at the current position (buffered bits dropped first).
    HRESULT ReadBytes(BYTE* dst, std::int64_t count);
    // Exp-Golomb codes; at most 31 leading zero bits are accepted (more gives 0).
    std::uint64_t ReadUnsignedExpGolomb();
    std::int64_t ReadSignedExpGolomb();
    // Non-streaming: S_OK while data remains, else E_FAIL. Streaming: S_OK when
    // `count` bytes remain; otherwise sleeps `waitMs` (if not 0) and gives S_FALSE.
    HRESULT CheckDataAvailable(std::int64_t count, DWORD waitMs);

    // True once a bit read failed (data ended or the source reported an error)
    // since the last ClearReadError; loops over the data stop on it.
    bool ReadFailed() const { return readFailed_; }
    void ClearReadError() { readFailed_ = false; }
    void MarkReadError() { readFailed_ = true; }

    IAsyncReader* Source() const { return reader_.Get(); }

private:
    HRESULT ReadThroughCache(BYTE* dst, std::int64_t count);
    std::uint64_t ReadBitsUpTo56(int count, bool peek);

    ComPtr<IAsyncReader> reader_;
    std::unique_ptr<BYTE[]> cache_;
    std::int64_t cacheStart_ = 0;
    std::int64_t cacheFill_ = 0;
    std::int64_t cacheCapacity_ = 0;
    bool streaming_ = false;
    bool randomAccess_ = false;
    std::int64_t pos_ = 0;
    std::int64_t length_ = 0;
    std::uint64_t bitBuffer_ = 0;
    int bitCount_ = 0;
    bool readFailed_ = false;
};
