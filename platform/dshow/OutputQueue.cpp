#include "platform/dshow/OutputQueue.h"

COutputQueue::COutputQueue(IPin* pInputPin, HRESULT* phr, BOOL bAuto, BOOL bQueue,
                           LONG lBatchSize, BOOL bBatchExact, LONG lListSize, DWORD, bool)
    : pin_(pInputPin), inputPin_(nullptr), queued_(bQueue != 0),
      batchSize_(lBatchSize < 1 ? 1 : lBatchSize), batchExact_(bBatchExact != 0),
      listSize_(lListSize) {
    HRESULT hr = S_OK;
    if (!pin_) hr = E_POINTER;
    if (SUCCEEDED(hr)) {
        pin_->AddRef();
        hr = pin_->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&inputPin_));
        if (FAILED(hr)) hr = E_NOINTERFACE;
    }
    if (SUCCEEDED(hr) && bAuto) queued_ = inputPin_->ReceiveCanBlock() == S_OK;
    if (SUCCEEDED(hr) && queued_) {
        try {
            thread_ = std::thread([this] { ThreadProc(); });
        } catch (...) {
            hr = E_OUTOFMEMORY;
        }
    }
    if (phr) *phr = hr;
}

void COutputQueue::Shutdown() {
    std::lock_guard lk(mutex_);
    terminate_ = true;
    FreeQueuedLocked();
    workCv_.notify_all();
    spaceCv_.notify_all();
}

COutputQueue::~COutputQueue() {
    Shutdown();
    {
        std::unique_lock lk(mutex_);
        // Let blocked producers leave Receive before the queue goes away.
        idleCv_.wait(lk, [&] { return producersInside_ == 0; });
    }
    if (thread_.joinable()) thread_.join();
    if (inputPin_) inputPin_->Release();
    if (pin_) pin_->Release();
}

void COutputQueue::FreeQueuedLocked() {
    for (Item& it : items_)
        if (it.sample) it.sample->Release();
    items_.clear();
    queuedSamples_ = 0;
    spaceCv_.notify_all();
}

void COutputQueue::ThreadProc() {
    std::vector<IMediaSample*> batch;
    batch.reserve(std::size_t(batchSize_));
    std::unique_lock lk(mutex_);
    for (;;) {
        workCv_.wait(lk, [&] {
            if (terminate_) return true;
            if (items_.empty()) return false;
            if (!batchExact_ || items_.front().kind != Kind::Sample) return true;
            // Exact batches: wait for a full one unless told to send, or a
            // control item follows the samples.
            if (sendAnyway_ || queuedSamples_ >= batchSize_) return true;
            for (const Item& it : items_)
                if (it.kind != Kind::Sample) return true;
            return false;
        });
        if (terminate_) break;
        Item first = items_.front();
        if (first.kind == Kind::Sample) {
            batch.clear();
            while (!items_.empty() && items_.front().kind == Kind::Sample &&
                   LONG(batch.size()) < batchSize_) {
                batch.push_back(items_.front().sample);
                items_.pop_front();
                --queuedSamples_;
            }
            if (items_.empty()) sendAnyway_ = false;
            spaceCv_.notify_all();
            busy_ = true;
            HRESULT kept = hr_;
            lk.unlock();
            HRESULT hr = S_OK;
            if (kept == S_OK) {
                LONG done = 0;
                hr = inputPin_->ReceiveMultiple(batch.data(), LONG(batch.size()), &done);
            }
            for (IMediaSample* s : batch) s->Release();
            lk.lock();
            if (kept == S_OK && hr != S_OK && !flushing_ && hr_ == S_OK) {
                hr_ = hr;
                spaceCv_.notify_all(); // a blocked producer returns the failure
            }
        } else {
            items_.pop_front();
            busy_ = true;
            lk.unlock();
            if (first.kind == Kind::EndOfStream)
                pin_->EndOfStream();
            else
                pin_->NewSegment(first.start, first.stop, first.rate);
            lk.lock();
        }
        busy_ = false;
        idleCv_.notify_all();
    }
    busy_ = false;
    idleCv_.notify_all();
}

HRESULT COutputQueue::Receive(IMediaSample* s) {
    LONG done = 0;
    return ReceiveMultiple(&s, 1, &done);
}

HRESULT COutputQueue::ReceiveMultiple(IMediaSample** pp, LONG n, LONG* processed) {
    if (processed) *processed = 0;
    if (!pp) return E_POINTER;
    if (!queued_) {
        HRESULT kept;
        {
            std::lock_guard lk(mutex_);
            kept = flushing_ ? S_FALSE : hr_;
        }
        HRESULT hr = kept;
        LONG done = 0;
        if (kept == S_OK) hr = inputPin_->ReceiveMultiple(pp, n, &done);
        for (LONG i = 0; i < n; ++i) pp[i]->Release();
        std::lock_guard lk(mutex_);
        if (kept == S_OK && hr != S_OK && !flushing_) hr_ = hr;
        if (processed) *processed = done;
        return hr;
    }
    std::unique_lock lk(mutex_);
    ++producersInside_;
    HRESULT result = S_OK;
    LONG i = 0;
    for (; i < n; ++i) {
        if (listSize_ > 0)
            spaceCv_.wait(lk, [&] {
                return terminate_ || flushing_ || hr_ != S_OK || queuedSamples_ < listSize_;
            });
        if (terminate_ || flushing_ || hr_ != S_OK) {
            result = terminate_ ? VFW_E_WRONG_STATE : flushing_ ? S_FALSE : hr_;
            break;
        }
        items_.push_back(Item{Kind::Sample, pp[i], 0, 0, 0});
        ++queuedSamples_;
        workCv_.notify_one();
    }
    --producersInside_;
    if (producersInside_ == 0) idleCv_.notify_all();
    lk.unlock();
    for (LONG j = i; j < n; ++j) pp[j]->Release();
    if (processed) *processed = i;
    return result;
}

void COutputQueue::EOS() {
    if (!queued_) {
        pin_->EndOfStream();
        return;
    }
    std::lock_guard lk(mutex_);
    if (terminate_) return;
    items_.push_back(Item{Kind::EndOfStream, nullptr, 0, 0, 0});
    workCv_.notify_one();
}

void COutputQueue::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
    if (!queued_) {
        pin_->NewSegment(tStart, tStop, dRate);
        return;
    }
    std::lock_guard lk(mutex_);
    if (terminate_) return;
    items_.push_back(Item{Kind::NewSegment, nullptr, tStart, tStop, dRate});
    workCv_.notify_one();
}

void COutputQueue::SendAnyway() {
    std::lock_guard lk(mutex_);
    sendAnyway_ = true;
    workCv_.notify_one();
}

void COutputQueue::BeginFlush() {
    {
        std::lock_guard lk(mutex_);
        flushing_ = true;
        FreeQueuedLocked();
    }
    pin_->BeginFlush();
}

void COutputQueue::EndFlush() {
    {
        std::unique_lock lk(mutex_);
        idleCv_.wait(lk, [&] { return !busy_ || terminate_; });
    }
    pin_->EndFlush();
    std::lock_guard lk(mutex_);
    flushing_ = false;
    sendAnyway_ = false;
    hr_ = S_OK;
}

void COutputQueue::Reset() {
    std::lock_guard lk(mutex_);
    hr_ = S_OK;
}

bool COutputQueue::IsIdle() {
    std::lock_guard lk(mutex_);
    return items_.empty() && !busy_;
}
