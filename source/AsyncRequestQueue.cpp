#include "source/AsyncRequestQueue.h"

#include <chrono>
#include <system_error>

AsyncRequestQueue::AsyncRequestQueue(CAsyncStream* stream) : stream_(stream) {}

AsyncRequestQueue::~AsyncRequestQueue() { Stop(); }

void AsyncRequestQueue::Stop() {
    {
        std::lock_guard lock(lock_);
        stopping_ = true;
    }
    work_.notify_all();
    done_.notify_all();
    if (worker_.joinable()) worker_.join();
}

LONG AsyncRequestQueue::Alignment() const { return static_cast<LONG>(stream_->Alignment()); }

bool AsyncRequestQueue::IsAligned(LONGLONG value) const {
    return (value & (Alignment() - 1)) == 0;
}

HRESULT AsyncRequestQueue::Length(LONGLONG* total, LONGLONG* available) {
    if (!total || !available) return E_POINTER;
    *total = stream_->Size(available);
    return S_OK;
}

HRESULT AsyncRequestQueue::SampleRange(IMediaSample* sample, LONGLONG* position, LONG* length,
                                       BYTE** buffer) {
    if (!sample) return E_POINTER;
    REFERENCE_TIME start = 0, stop = 0;
    HRESULT hr = sample->GetTime(&start, &stop);
    if (FAILED(hr)) return hr;
    if (start < 0 || stop < start) return E_INVALIDARG;
    LONGLONG pos = start / kUnits;
    LONGLONG len = (stop - start) / kUnits;

    const LONGLONG align = Alignment();
    const LONGLONG total = (stream_->Size() + align - 1) & ~(align - 1);
    if (pos + len > total) {
        len = pos < total ? total - pos : 0;
        stop = total * kUnits;
        if (stop < start) stop = start;
        sample->SetTime(&start, &stop);
    }
    if (len > sample->GetSize()) return E_INVALIDARG;
    hr = sample->GetPointer(buffer);
    if (FAILED(hr)) return hr;
    *position = pos;
    *length = static_cast<LONG>(len);
    return S_OK;
}

HRESULT AsyncRequestQueue::Request(IMediaSample* sample, DWORD_PTR cookie) {
    LONGLONG position = 0;
    LONG length = 0;
    BYTE* buffer = nullptr;
    HRESULT hr = SampleRange(sample, &position, &length, &buffer);
    if (FAILED(hr)) return hr;
    return RequestBytes(position, length, buffer, sample, cookie);
}

HRESULT AsyncRequestQueue::RequestBytes(LONGLONG position, LONG length, BYTE* buffer,
                                        IMediaSample* sample, DWORD_PTR cookie) {
    if (!IsAligned(position) || !IsAligned(length) ||
        !IsAligned(static_cast<LONGLONG>(reinterpret_cast<std::uintptr_t>(buffer))))
        return VFW_E_BADALIGN;
    if (length < 0 || (length > 0 && !buffer)) return E_INVALIDARG;
    return Enqueue(std::make_unique<AsyncRequest>(stream_, position, length, TRUE, buffer, sample,
                                                  cookie));
}

HRESULT AsyncRequestQueue::Enqueue(std::unique_ptr<AsyncRequest> request) {
    std::lock_guard lock(lock_);
    if (flushing_) return VFW_E_WRONG_STATE;
    if (stopping_) return E_UNEXPECTED;
    if (!worker_.joinable()) {
        try {
            worker_ = std::thread(&AsyncRequestQueue::Run, this);
        } catch (const std::system_error&) {
            return E_FAIL;
        }
    }
    pending_.push_back(std::move(request));
    work_.notify_one();
    return S_OK;
}

void AsyncRequestQueue::Run() {
    std::unique_lock lock(lock_);
    for (;;) {
        work_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
        if (stopping_) return;
        std::unique_ptr<AsyncRequest> request = std::move(pending_.front());
        pending_.pop_front();
        ++inFlight_;
        lock.unlock();
        request->Complete();
        lock.lock();
        completed_.push_back(std::move(request));
        done_.notify_all();
        if (--inFlight_ == 0 && waitingAllDone_) allDone_.notify_all();
    }
}

HRESULT AsyncRequestQueue::WaitForNext(DWORD timeoutMs, IMediaSample** sample, DWORD_PTR* cookie) {
    if (!sample || !cookie) return E_POINTER;
    *sample = nullptr;
    *cookie = 0;
    std::unique_ptr<AsyncRequest> request;
    {
        std::unique_lock lock(lock_);
        auto ready = [this] { return !completed_.empty() || flushing_ || stopping_; };
        if (timeoutMs == INFINITE)
            done_.wait(lock, ready);
        else
            done_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
        if (completed_.empty()) return flushing_ || stopping_ ? VFW_E_WRONG_STATE : VFW_E_TIMEOUT;
        request = std::move(completed_.front());
        completed_.pop_front();
    }
    HRESULT hr = request->Result();
    if (hr == S_FALSE) {
        // Short: fine only when it stopped exactly at the end of the stream.
        hr = request->Position() + request->Length() == stream_->Size() ? S_OK : E_FAIL;
    }
    *sample = request->Sample();
    *cookie = request->Cookie();
    if (SUCCEEDED(hr) && *sample) (*sample)->SetActualDataLength(request->Length());
    return hr;
}

HRESULT AsyncRequestQueue::SyncReadAligned(IMediaSample* sample) {
    LONGLONG position = 0;
    LONG length = 0;
    BYTE* buffer = nullptr;
    HRESULT hr = SampleRange(sample, &position, &length, &buffer);
    if (FAILED(hr)) return hr;
    AsyncRequest request(stream_, position, length, TRUE, buffer, sample, 0);
    hr = request.Complete();
    sample->SetActualDataLength(hr == S_OK || hr == S_FALSE ? request.Length() : 0);
    return hr;
}

HRESULT AsyncRequestQueue::SyncRead(LONGLONG position, LONG length, BYTE* buffer) {
    if (position < 0 || length < 0) return E_INVALIDARG;
    if (length > 0 && !buffer) return E_POINTER;
    AsyncRequest request(stream_, position, length, TRUE, buffer, nullptr, 0);
    return request.Complete();
}

HRESULT AsyncRequestQueue::BeginFlush() {
    std::unique_lock lock(lock_);
    flushing_ = true;
    while (!pending_.empty()) {
        completed_.push_back(std::move(pending_.front()));
        pending_.pop_front();
    }
    done_.notify_all();
    if (inFlight_ > 0) {
        waitingAllDone_ = true;
        allDone_.wait(lock, [this] { return inFlight_ == 0; });
        waitingAllDone_ = false;
    }
    return S_OK;
}

HRESULT AsyncRequestQueue::EndFlush() {
    std::lock_guard lock(lock_);
    flushing_ = false;
    return S_OK;
}
