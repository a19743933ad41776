// A pull byte source over bytes in memory, for tests and fuzz targets. Only
// SyncRead and Length are served; the queued-read methods answer E_NOTIMPL.
// Options: pretend to be a stream still growing (total length 0), and make reads
// at or after an offset fail, to exercise read-error paths.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/dshow/Interfaces.h"

class MemoryAsyncReader final : public IAsyncReader {
public:
    // Shares `data`; the reader starts with one reference (use ComPtr::Adopt).
    static ComPtr<MemoryAsyncReader> Create(std::shared_ptr<const std::vector<std::uint8_t>> data) {
        return ComPtr<MemoryAsyncReader>::Adopt(new MemoryAsyncReader(std::move(data)));
    }
    static ComPtr<MemoryAsyncReader> Create(const std::uint8_t* p, std::size_t n) {
        return Create(std::make_shared<const std::vector<std::uint8_t>>(p, p + n));
    }

    // Length reports total 0 and available = size, like a source still being written.
    void SetStreaming(bool on) { streaming_ = on; }
    // Reads touching bytes at or after `offset` fail with E_FAIL (-1: never).
    void FailReadsFrom(std::int64_t offset) { failFrom_ = offset; }
    // Length fails.
    void FailLength(bool on) { failLength_ = on; }
    // A streaming source turns into a complete one after `n` more reads.
    void CompleteAfterReads(std::int64_t n) { completeAfter_ = readCalls_ + n; }
    std::int64_t ReadCalls() const { return readCalls_; }
    // One past the furthest byte any read asked for.
    std::int64_t MaxReadEnd() const { return maxReadEnd_; }

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IAsyncReader) {
            *ppv = static_cast<IAsyncReader*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }

    HRESULT RequestAllocator(IMemAllocator*, ALLOCATOR_PROPERTIES*, IMemAllocator**) override {
        return E_NOTIMPL;
    }
    HRESULT Request(IMediaSample*, DWORD_PTR) override { return E_NOTIMPL; }
    HRESULT WaitForNext(DWORD, IMediaSample**, DWORD_PTR*) override { return E_NOTIMPL; }
    HRESULT SyncReadAligned(IMediaSample*) override { return E_NOTIMPL; }
    HRESULT SyncRead(LONGLONG pos, LONG len, BYTE* buf) override {
        if (++readCalls_ == completeAfter_) streaming_ = false;
        if (!buf || pos < 0 || len < 0) return E_INVALIDARG;
        maxReadEnd_ = std::max<std::int64_t>(maxReadEnd_, pos + len);
        if (failFrom_ >= 0 && pos + len > failFrom_) return E_FAIL;
        const auto size = static_cast<LONGLONG>(data_->size());
        if (pos >= size) return len == 0 ? S_OK : S_FALSE;
        LONGLONG n = std::min<LONGLONG>(len, size - pos);
        std::memcpy(buf, data_->data() + pos, static_cast<std::size_t>(n));
        return n == len ? S_OK : S_FALSE;
    }
    HRESULT Length(LONGLONG* total, LONGLONG* available) override {
        if (failLength_) return E_FAIL;
        const auto size = static_cast<LONGLONG>(data_->size());
        if (total) *total = streaming_ ? 0 : size;
        if (available) *available = size;
        return S_OK;
    }
    HRESULT BeginFlush() override { return S_OK; }
    HRESULT EndFlush() override { return S_OK; }

private:
    explicit MemoryAsyncReader(std::shared_ptr<const std::vector<std::uint8_t>> data)
        : data_(std::move(data)) {}
    ~MemoryAsyncReader() = default;

    std::shared_ptr<const std::vector<std::uint8_t>> data_;
    std::atomic<ULONG> refs_{1};
    bool streaming_ = false;
    bool failLength_ = false;
    std::int64_t failFrom_ = -1;
    std::int64_t readCalls_ = 0;
    std::int64_t maxReadEnd_ = 0;
    std::int64_t completeAfter_ = -1;
};
