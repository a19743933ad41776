#include "demux/CCountingSink.h"

#include <chrono>

class CCountingSink::Pin : public CBaseInputPin {
public:
    Pin(CCountingSink* sink, HRESULT* phr)
        : CBaseInputPin("counting sink pin", sink, sink, phr, L"In"), sink_(sink) {}
    HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
    HRESULT Receive(IMediaSample* s) override {
        HRESULT hr = CBaseInputPin::Receive(s);
        if (hr != S_OK) return hr;
        return sink_->OnReceive(s);
    }
    HRESULT EndOfStream() override {
        sink_->OnEndOfStream();
        return S_OK;
    }
    HRESULT BeginFlush() override {
        sink_->OnFlush(true);
        return CBaseInputPin::BeginFlush();
    }
    HRESULT EndFlush() override {
        sink_->OnFlush(false);
        return CBaseInputPin::EndFlush();
    }
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override {
        sink_->OnNewSegment(start);
        return CBaseInputPin::NewSegment(start, stop, rate);
    }
    HRESULT Inactive() override {
        sink_->OnStop();
        return CBaseInputPin::Inactive();
    }

private:
    CCountingSink* sink_;
};

CCountingSink::CCountingSink(bool keepLog)
    : CBaseFilter("counting sink", nullptr, this, CLSID_CountingSink), keepLog_(keepLog) {
    HRESULT hr = S_OK;
    pin_ = std::make_unique<Pin>(this, &hr);
}

CCountingSink::~CCountingSink() {
    Stop();
    pin_->DisconnectInternal();
}

CBasePin* CCountingSink::GetPin(int n) {
    return n == 0 ? pin_.get() : nullptr;
}
IPin* CCountingSink::InputPin() {
    return pin_.get();
}

HRESULT CCountingSink::Pause() {
    {
        std::lock_guard lk(lock_);
        stopping_ = false;
    }
    return CBaseFilter::Pause();
}

HRESULT CCountingSink::OnReceive(IMediaSample* s) {
    Sample rec;
    REFERENCE_TIME t0 = 0, t1 = 0;
    rec.hasTime = SUCCEEDED(s->GetTime(&t0, &t1));
    rec.start = t0;
    rec.stop = t1;
    rec.discontinuity = s->IsDiscontinuity() == S_OK;
    rec.syncPoint = s->IsSyncPoint() == S_OK;
    rec.preroll = s->IsPreroll() == S_OK;
    rec.size = std::size_t(s->GetActualDataLength());
    AM_MEDIA_TYPE* mt = nullptr;
    if (s->GetMediaType(&mt) == S_OK && mt) {
        rec.newType = true;
    }
    if (keepLog_) {
        BYTE* p = nullptr;
        s->GetPointer(&p);
        for (std::size_t i = 0; p && i < rec.size; ++i)
            rec.checksum += p[i];
    }
    std::unique_lock lk(lock_);
    changed_.wait(lk, [this] { return !stalled_ || flushing_ || stopping_; });
    ++stats_.packets;
    rec.segment = stats_.segments;
    stats_.bytes += std::int64_t(rec.size);
    if (rec.discontinuity) ++stats_.discontinuities;
    if (mt) {
        ++stats_.typeChanges;
        stats_.lastType = *mt;
        DeleteMediaType(mt);
    }
    if (rec.hasTime) {
        if (!stats_.hasTime) stats_.first = rec.start;
        stats_.hasTime = true;
        stats_.last = rec.start;
    }
    if (keepLog_) log_.push_back(rec);
    if (packetWaiters_) changed_.notify_all();
    return S_OK;
}

void CCountingSink::OnEndOfStream() {
    std::lock_guard lk(lock_);
    stats_.ended = true;
    changed_.notify_all();
}

void CCountingSink::OnFlush(bool begin) {
    std::lock_guard lk(lock_);
    flushing_ = begin;
    if (begin) {
        ++stats_.flushes;
        stats_.ended = false; // what was delivered before the flush is gone
    }
    changed_.notify_all();
}

// Stopping releases a stalled Receive, as a flush does, without counting as one.
void CCountingSink::OnStop() {
    std::lock_guard lk(lock_);
    stopping_ = true;
    changed_.notify_all();
}

void CCountingSink::OnNewSegment(REFERENCE_TIME start) {
    std::lock_guard lk(lock_);
    ++stats_.segments;
    stats_.segmentStart = start;
    stats_.ended = false;
}

CCountingSink::Stats CCountingSink::GetStats() const {
    std::lock_guard lk(lock_);
    return stats_;
}

std::vector<CCountingSink::Sample> CCountingSink::Log() const {
    std::lock_guard lk(lock_);
    return log_;
}

void CCountingSink::Reset() {
    std::lock_guard lk(lock_);
    stats_ = Stats{};
    log_.clear();
}

bool CCountingSink::WaitForEnd(int ms) const {
    std::unique_lock lk(lock_);
    return changed_.wait_for(lk, std::chrono::milliseconds(ms), [this] { return stats_.ended; });
}

bool CCountingSink::WaitForPackets(std::int64_t n, int ms) const {
    std::unique_lock lk(lock_);
    return changed_.wait_for(lk, std::chrono::milliseconds(ms),
                             [&] { return stats_.packets >= n; });
}

void CCountingSink::Stall(bool on) {
    std::lock_guard lk(lock_);
    stalled_ = on;
    changed_.notify_all();
}
