// Test doubles around a filter under test: a source whose one output pin
// offers a fixed media type and pushes hand-made samples, and a sink whose
// input pin records every sample (bytes, times, buffer address) and every
// stream event in order. Both are stopped/paused with the filter under test.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/dshow/BaseFilter.h"
#include "platform/dshow/BaseInputPin.h"
#include "platform/dshow/BaseOutputPin.h"
#include "platform/dshow/FormatBlocks.h"
#include "platform/dshow/MediaType.h"
#include "platform/dshow/VfwCodes.h"

namespace fake {

constexpr CLSID CLSID_FakeSource = MakeGuid("0A4F2E10-6B1C-4E55-9C1A-5D2B6E7F8001");
constexpr CLSID CLSID_FakeSink = MakeGuid("0A4F2E10-6B1C-4E55-9C1A-5D2B6E7F8002");

inline CMediaType VideoType(LONG w, LONG h, const GUID& format = FORMAT_VideoInfo,
                            const GUID& subtype = MEDIASUBTYPE_YV12) {
    CMediaType mt(&MEDIATYPE_Video);
    mt.SetSubtype(&subtype);
    mt.SetFormatType(&format);
    BITMAPINFOHEADER* bih;
    if (format == FORMAT_VideoInfo2) {
        auto* v = reinterpret_cast<VIDEOINFOHEADER2*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER2)));
        v->rcSource = RECT{0, 0, w, h};
        v->dwPictAspectRatioX = 4;
        v->dwPictAspectRatioY = 3;
        bih = &v->bmiHeader;
    } else {
        auto* v = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
        v->rcSource = RECT{0, 0, w, h};
        v->AvgTimePerFrame = 333667;
        bih = &v->bmiHeader;
    }
    bih->biSize = sizeof(BITMAPINFOHEADER);
    bih->biWidth = w;
    bih->biHeight = h;
    bih->biPlanes = 1;
    bih->biBitCount = 12;
    bih->biCompression = 0x32315659;
    bih->biSizeImage = DWORD(w * h * 3 / 2);
    mt.SetSampleSize(bih->biSizeImage);
    return mt;
}

inline CMediaType AudioType(WORD channels, DWORD rate, WORD bits = 16) {
    CMediaType mt(&MEDIATYPE_Audio);
    mt.SetSubtype(&MEDIASUBTYPE_PCM);
    mt.SetFormatType(&FORMAT_WaveFormatEx);
    auto* w = reinterpret_cast<WAVEFORMATEX*>(mt.AllocFormatBuffer(sizeof(WAVEFORMATEX)));
    w->wFormatTag = WAVE_FORMAT_PCM;
    w->nChannels = channels;
    w->nSamplesPerSec = rate;
    w->wBitsPerSample = bits;
    w->nBlockAlign = WORD(channels * bits / 8);
    w->nAvgBytesPerSec = rate * w->nBlockAlign;
    mt.SetSampleSize(w->nBlockAlign);
    return mt;
}

inline const WAVEFORMATEX* Wave(const AM_MEDIA_TYPE& mt) {
    return reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
}
inline const BITMAPINFOHEADER* Header(const AM_MEDIA_TYPE& mt) {
    if (mt.formattype == FORMAT_VideoInfo2)
        return &reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat)->bmiHeader;
    return &reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader;
}

class CSourcePin;

// One output pin offering `type`, with `count` buffers of `bytes`.
class CSource : public CCritSec, public CBaseFilter {
public:
    CSource(const CMediaType& type, LONG bytes, LONG count = 2);
    ~CSource() override;
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override;
    CSourcePin* Pin() const { return pin_; }

private:
    CSourcePin* pin_;
};

class CSourcePin : public CBaseOutputPin {
public:
    CSourcePin(CSource* filter, const CMediaType& type, LONG bytes, LONG count)
        : CBaseOutputPin("fake source pin", filter, filter, &hr_, L"Out"), type_(type),
          bytes_(bytes), count_(count) {}

    HRESULT CheckMediaType(const CMediaType* pmt) override {
        return *pmt == type_ ? S_OK : S_FALSE;
    }
    HRESULT GetMediaType(int pos, CMediaType* pmt) override {
        if (pos < 0) return E_INVALIDARG;
        if (pos > 0) return VFW_S_NO_MORE_ITEMS;
        *pmt = type_;
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES*) override {
        ALLOCATOR_PROPERTIES req{count_, bytes_, 1, 0}, got{};
        return alloc->SetProperties(&req, &got);
    }
    // Pushes one sample of n bytes with the given times (and an optional
    // format change); returns the result of the downstream Receive.
    HRESULT Send(const void* data, LONG n, REFERENCE_TIME t0, REFERENCE_TIME t1,
                 const CMediaType* change = nullptr) {
        IMediaSample* s = nullptr;
        HRESULT hr = GetDeliveryBuffer(&s, nullptr, nullptr, 0);
        if (FAILED(hr)) return hr;
        BYTE* p = nullptr;
        s->GetPointer(&p);
        std::memcpy(p, data, size_t(n));
        s->SetActualDataLength(n);
        s->SetTime(&t0, &t1);
        if (change) s->SetMediaType(const_cast<CMediaType*>(change));
        hr = Deliver(s);
        s->Release();
        return hr;
    }

private:
    HRESULT hr_ = S_OK;
    CMediaType type_;
    LONG bytes_, count_;
};

inline CSource::CSource(const CMediaType& type, LONG bytes, LONG count)
    : CBaseFilter("fake source", nullptr, this, CLSID_FakeSource),
      pin_(new CSourcePin(this, type, bytes, count)) {}
inline CSource::~CSource() { delete pin_; }
inline CBasePin* CSource::GetPin(int n) { return n == 0 ? pin_ : nullptr; }

// What the sink saw, in order.
struct Received {
    std::vector<uint8_t> bytes;
    REFERENCE_TIME start = 0, stop = 0;
    bool hasTime = false;
    const BYTE* buffer = nullptr;
};

class CSinkPin;

class CSink : public CCritSec, public CBaseFilter {
public:
    // accept: types the sink takes (empty: any); offer: types it proposes.
    CSink(std::vector<CMediaType> accept = {}, std::vector<CMediaType> offer = {});
    ~CSink() override;
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override;
    CSinkPin* Pin() const { return pin_; }

private:
    CSinkPin* pin_;
};

class CSinkPin : public CBaseInputPin {
public:
    CSinkPin(CSink* filter, std::vector<CMediaType> accept, std::vector<CMediaType> offer)
        : CBaseInputPin("fake sink pin", filter, filter, &hr_, L"In"), accept_(std::move(accept)),
          offer_(std::move(offer)) {}

    HRESULT CheckMediaType(const CMediaType* pmt) override {
        if (accept_.empty()) return S_OK;
        for (const auto& t : accept_)
            if (*pmt == t) return S_OK;
        return S_FALSE;
    }
    HRESULT GetMediaType(int pos, CMediaType* pmt) override {
        if (pos < 0) return E_INVALIDARG;
        if (size_t(pos) >= offer_.size()) return VFW_S_NO_MORE_ITEMS;
        *pmt = offer_[size_t(pos)];
        return S_OK;
    }
    HRESULT Receive(IMediaSample* s) override {
        HRESULT hr = CBaseInputPin::Receive(s);
        if (hr != S_OK) return hr;
        Received r;
        BYTE* p = nullptr;
        s->GetPointer(&p);
        r.buffer = p;
        r.bytes.assign(p, p + s->GetActualDataLength());
        r.hasTime = s->GetTime(&r.start, &r.stop) == S_OK;
        if (delay_.count()) std::this_thread::sleep_for(delay_);
        std::lock_guard<std::mutex> l(m_);
        samples_.push_back(std::move(r));
        events_.push_back("sample");
        cv_.notify_all();
        return S_OK;
    }
    HRESULT EndOfStream() override { return Event("eos"); }
    HRESULT BeginFlush() override {
        CBaseInputPin::BeginFlush();
        return Event("begin-flush");
    }
    HRESULT EndFlush() override {
        CBaseInputPin::EndFlush();
        return Event("end-flush");
    }
    HRESULT NewSegment(REFERENCE_TIME a, REFERENCE_TIME b, double rate) override {
        CBaseInputPin::NewSegment(a, b, rate);
        return Event("segment " + std::to_string(a) + " " + std::to_string(b));
    }

    // Waits (up to 5 s) until n events have arrived.
    bool WaitEvents(size_t n) {
        std::unique_lock<std::mutex> l(m_);
        return cv_.wait_for(l, std::chrono::seconds(5), [&] { return events_.size() >= n; });
    }
    std::vector<Received> Samples() {
        std::lock_guard<std::mutex> l(m_);
        return samples_;
    }
    std::vector<std::string> Events() {
        std::lock_guard<std::mutex> l(m_);
        return events_;
    }
    // Slows Receive down, to show that another branch does not wait for it.
    void SetDelay(std::chrono::milliseconds d) { delay_ = d; }
    // Called on the delivering thread with each stream event as it arrives.
    std::function<void(const std::string&)> onEvent;

private:
    HRESULT Event(std::string e) {
        if (onEvent) onEvent(e);
        std::lock_guard<std::mutex> l(m_);
        events_.push_back(std::move(e));
        cv_.notify_all();
        return S_OK;
    }
    HRESULT hr_ = S_OK;
    std::vector<CMediaType> accept_, offer_;
    std::mutex m_;
    std::condition_variable cv_;
    std::vector<Received> samples_;
    std::vector<std::string> events_;
    std::chrono::milliseconds delay_{0};
};

inline CSink::CSink(std::vector<CMediaType> accept, std::vector<CMediaType> offer)
    : CBaseFilter("fake sink", nullptr, this, CLSID_FakeSink),
      pin_(new CSinkPin(this, std::move(accept), std::move(offer))) {}
inline CSink::~CSink() { delete pin_; }
inline CBasePin* CSink::GetPin(int n) { return n == 0 ? pin_ : nullptr; }

// Holds one reference to a framework object for the test's scope.
template <class T>
struct Ref {
    T* p;
    explicit Ref(T* q) : p(q) { p->NonDelegatingAddRef(); }
    ~Ref() { p->NonDelegatingRelease(); }
    T* operator->() const { return p; }
    T* get() const { return p; }
};

} // namespace fake
