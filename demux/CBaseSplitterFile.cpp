#include "demux/CBaseSplitterFile.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <thread>

CBaseSplitterFile::CBaseSplitterFile(IAsyncReader* reader, HRESULT& hr, int cacheBytes,
                                     bool randomAccessRequired, bool streamingAllowed)
    : reader_(reader) {
    hr = E_FAIL;
    if (!reader_) return;
    LONGLONG total = 0, available = 0;
    if (FAILED(reader_->Length(&total, &available))) return;
    streaming_ = total == 0 && available > 0;
    randomAccess_ = total > 0 && total == available;
    length_ = streaming_ ? available : total;
    if (length_ < 0 || (randomAccessRequired && !randomAccess_) ||
        (!streamingAllowed && streaming_))
        return;
    if (cacheBytes > 0) {
        cache_.reset(new (std::nothrow) BYTE[static_cast<std::size_t>(cacheBytes)]);
        if (!cache_) {
            hr = E_OUTOFMEMORY;
            return;
        }
        cacheCapacity_ = cacheBytes;
    }
    hr = S_OK;
}

CBaseSplitterFile::~CBaseSplitterFile() = default;

std::int64_t CBaseSplitterFile::GetLength(bool update) {
    if (!reader_) return length_;
    if (streaming_ || update) {
        LONGLONG total = 0, available = 0;
        if (SUCCEEDED(reader_->Length(&total, &available))) {
            std::int64_t len = streaming_ ? available : total;
            if (len >= 0) length_ = len;
        }
    }
    return length_;
}

std::int64_t CBaseSplitterFile::GetRemaining() {
    std::int64_t left = GetLength() - GetPos();
    return left > 0 ? left : 0;
}

void CBaseSplitterFile::Seek(std::int64_t offset) {
    std::int64_t len = GetLength();
    pos_ = offset <= 0 ? 0 : std::min(offset, len);
    bitBuffer_ = 0;
    bitCount_ = 0;
}

HRESULT CBaseSplitterFile::Read(BYTE* dst, std::int64_t count) {
    if (!reader_) return E_NOINTERFACE;
    if (count <= 0) return S_OK;
    if (!randomAccess_) {
        LONGLONG total = 0, available = 0;
        if (SUCCEEDED(reader_->Length(&total, &available)) && total > 0 && total == available) {
            randomAccess_ = true;
            streaming_ = false;
            length_ = total;
            // The hook reads elsewhere; this read goes on from where it was.
            const std::int64_t pos = pos_;
            const std::uint64_t bits = bitBuffer_;
            const int bitCount = bitCount_;
            const bool failed = readFailed_;
            OnComplete();
            pos_ = pos;
            bitBuffer_ = bits;
            bitCount_ = bitCount;
            readFailed_ = failed;
        }
    }
    if (!cache_) {
        if (count > 0x7FFFFFFF) return E_INVALIDARG;
        HRESULT hr = reader_->SyncRead(pos_, static_cast<LONG>(count), dst);
        pos_ += count;
        return hr;
    }
    return ReadThroughCache(dst, count);
}

HRESULT CBaseSplitterFile::ReadThroughCache(BYTE* dst, std::int64_t count) {
    // Whatever overlaps the cached block comes from it.
    if (pos_ >= cacheStart_ && pos_ < cacheStart_ + cacheFill_) {
        std::int64_t take = std::min(count, cacheStart_ + cacheFill_ - pos_);
        std::memcpy(dst, cache_.get() + (pos_ - cacheStart_), static_cast<std::size_t>(take));
        dst += take;
        count -= take;
        pos_ += take;
    }
    // Large requests go straight to the destination, one cache size at a time.
    while (count > cacheCapacity_) {
        HRESULT hr = reader_->SyncRead(pos_, static_cast<LONG>(cacheCapacity_), dst);
        if (hr != S_OK) return hr;
        dst += cacheCapacity_;
        count -= cacheCapacity_;
        pos_ += cacheCapacity_;
    }
    while (count > 0) {
        std::int64_t block = std::min(length_ - pos_, cacheCapacity_);
        std::int64_t take = std::min(count, block);
        if (take <= 0) return S_FALSE;
        HRESULT hr = reader_->SyncRead(pos_, static_cast<LONG>(block), cache_.get());
        if (hr != S_OK) {
            cacheFill_ = 0; // the block may be half written
            return hr;
        }
        cacheStart_ = pos_;
        cacheFill_ = block;
        std::memcpy(dst, cache_.get(), static_cast<std::size_t>(take));
        dst += take;
        count -= take;
        pos_ += take;
    }
    return S_OK;
}

std::uint64_t CBaseSplitterFile::ReadBitsUpTo56(int count, bool peek) {
    while (bitCount_ < count) {
        // Fast path: the byte is in the cached block.
        if (pos_ >= cacheStart_ && pos_ < cacheStart_ + cacheFill_) {
            bitBuffer_ = (bitBuffer_ << 8) | cache_[static_cast<std::size_t>(pos_ - cacheStart_)];
            ++pos_;
            bitCount_ += 8;
            continue;
        }
        BYTE b = 0;
        if (Read(&b, 1) != S_OK) {
            readFailed_ = true;
            return 0;
        }
        bitBuffer_ = (bitBuffer_ << 8) | b;
        bitCount_ += 8;
    }
    std::uint64_t mask = count >= 64 ? ~0ull : ((1ull << count) - 1);
    std::uint64_t value = (bitBuffer_ >> (bitCount_ - count)) & mask;
    if (!peek) bitCount_ -= count;
    return value;
}

std::uint64_t CBaseSplitterFile::ReadBits(int count, bool peek) {
    if (count <= 0) return 0;
    if (count > 64) count = 64;
    // The 64-bit buffer holds at most 7 leftover bits plus whole bytes, so wide
    // reads are done as two halves.
    if (count <= 56) return ReadBitsUpTo56(count, peek);
    std::int64_t savedPos = pos_;
    std::uint64_t savedBuf = bitBuffer_;
    int savedCount = bitCount_;
    std::uint64_t hi = ReadBitsUpTo56(count - 32, false);
    std::uint64_t lo = ReadBitsUpTo56(32, false);
    if (peek) {
        // Restore the unread state; the cache still holds the bytes.
        pos_ = savedPos;
        bitBuffer_ = savedBuf;
        bitCount_ = savedCount;
    }
    return (hi << 32) | lo;
}

void CBaseSplitterFile::AlignToByte() {
    bitCount_ &= ~7;
}

void CBaseSplitterFile::FlushBits() {
    Seek(GetPos());
}

bool CBaseSplitterFile::SkipToByte(BYTE value, std::int64_t limit) {
    FlushBits();
    while (limit > 0 && GetRemaining() > 0) {
        if (pos_ < cacheStart_ || pos_ >= cacheStart_ + cacheFill_) {
            // Outside the cached block: one byte through the reader (which loads it).
            const std::int64_t at = pos_;
            BYTE b = 0;
            if (Read(&b, 1) != S_OK) {
                readFailed_ = true;
                return false;
            }
            if (b == value) {
                pos_ = at;
                return true;
            }
            --limit;
            continue;
        }
        const BYTE* p = cache_.get() + (pos_ - cacheStart_);
        const std::int64_t n = std::min(limit, cacheStart_ + cacheFill_ - pos_);
        if (const void* hit = std::memchr(p, value, static_cast<std::size_t>(n))) {
            pos_ += static_cast<const BYTE*>(hit) - p;
            return true;
        }
        pos_ += n;
        limit -= n;
    }
    return false;
}

HRESULT CBaseSplitterFile::ReadBytes(BYTE* dst, std::int64_t count) {
    Seek(GetPos());
    return Read(dst, count);
}

std::uint64_t CBaseSplitterFile::ReadUnsignedExpGolomb() {
    int zeros = 0;
    while (ReadBits(1) == 0) {
        if (++zeros > 31) return 0; // not a valid code (or no data left)
    }
    return ((1ull << zeros) - 1) + ReadBits(zeros);
}

std::int64_t CBaseSplitterFile::ReadSignedExpGolomb() {
    std::uint64_t k = ReadUnsignedExpGolomb();
    std::int64_t v = static_cast<std::int64_t>((k + 1) / 2);
    return (k & 1) ? v : -v;
}

HRESULT CBaseSplitterFile::CheckDataAvailable(std::int64_t count, DWORD waitMs) {
    if (!streaming_) return GetRemaining() > 0 ? S_OK : E_FAIL;
    if (GetRemaining() >= count) return S_OK;
    if (waitMs) std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
    return S_FALSE;
}
