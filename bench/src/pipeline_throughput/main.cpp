// Samples per second through a source, three pass-through transforms and a null
// renderer on the framework, with 720 x 480 YV12 buffers. The transforms do not
// touch the picture (unless --copy), so the figure is the framework's own cost:
// buffer hand-out, sample properties, delivery and the streaming locks.
//
// Usage: pipeline_throughput_bench [SAMPLES] [--copy]
// Prints "samples <n> seconds <s> samples_per_s <r> us_per_sample_stage <u>".
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "platform/dshow/AMThread.h"
#include "platform/dshow/BaseFilter.h"
#include "platform/dshow/BaseInputPin.h"
#include "platform/dshow/BaseOutputPin.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/FormatBlocks.h"
#include "platform/dshow/TransformFilter.h"

namespace {

constexpr LONG kWidth = 720, kHeight = 480;
constexpr REFERENCE_TIME kFrame = 400000;
constexpr CLSID CLSID_BenchFilter = MakeGuid("6A1F0000-0000-4000-8000-0000000000FE");

CMediaType Yv12Type() {
    CMediaType mt(&MEDIATYPE_Video);
    mt.SetSubtype(&MEDIASUBTYPE_YV12);
    mt.SetFormatType(&FORMAT_VideoInfo);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih->bmiHeader.biWidth = kWidth;
    vih->bmiHeader.biHeight = kHeight;
    vih->bmiHeader.biBitCount = 12;
    vih->bmiHeader.biCompression = MAKEFOURCC('Y', 'V', '1', '2');
    vih->bmiHeader.biSizeImage = GetBitmapSize(&vih->bmiHeader);
    vih->AvgTimePerFrame = kFrame;
    mt.SetSampleSize(vih->bmiHeader.biSizeImage);
    return mt;
}

HRESULT AskBuffers(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* prop, LONG count, LONG size) {
    prop->cBuffers = std::max(prop->cBuffers, count);
    prop->cbBuffer = std::max(prop->cbBuffer, size);
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = alloc->SetProperties(prop, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < size || actual.cBuffers < count ? E_FAIL : S_OK;
}

class SourcePin : public CBaseOutputPin, public CAMThread {
public:
    SourcePin(CBaseFilter* f, CCritSec* lock, long samples)
        : CBaseOutputPin("SourcePin", f, lock, nullptr, L"Output"), samples_(samples),
          type_(Yv12Type()) {}
    ~SourcePin() override { Close(); }
    HRESULT CheckMediaType(const CMediaType* mt) override { return *mt == type_ ? S_OK : S_FALSE; }
    HRESULT GetMediaType(int i, CMediaType* mt) override {
        if (i < 0) return E_INVALIDARG;
        if (i > 0) return VFW_S_NO_MORE_ITEMS;
        *mt = type_;
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* a, ALLOCATOR_PROPERTIES* p) override {
        return AskBuffers(a, p, 4, LONG(type_.GetSampleSize()));
    }
    HRESULT Active() override {
        HRESULT hr = CBaseOutputPin::Active();
        if (SUCCEEDED(hr) && !Create()) hr = E_FAIL;
        return hr;
    }
    HRESULT Inactive() override {
        HRESULT hr = CBaseOutputPin::Inactive();
        Close();
        return hr;
    }

protected:
    DWORD ThreadProc() override {
        DeliverNewSegment(0, MAX_TIME, 1.0);
        for (long i = 0; i < samples_; ++i) {
            IMediaSample* s = nullptr;
            if (FAILED(GetDeliveryBuffer(&s, nullptr, nullptr, 0))) return 1;
            BYTE* p = nullptr;
            s->GetPointer(&p);
            std::memcpy(p, &i, sizeof i);
            s->SetActualDataLength(LONG(type_.GetSampleSize()));
            REFERENCE_TIME start = i * kFrame, stop = start + kFrame;
            s->SetTime(&start, &stop);
            s->SetSyncPoint(TRUE);
            HRESULT hr = Deliver(s);
            s->Release();
            if (hr != S_OK) return 1;
        }
        DeliverEndOfStream();
        return 0;
    }

private:
    long samples_;
    CMediaType type_;
};

class Source : public CBaseFilter {
public:
    explicit Source(long samples)
        : CBaseFilter("Source", nullptr, &lock_, CLSID_BenchFilter),
          pin_(std::make_unique<SourcePin>(this, &lock_, samples)) {}
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? pin_.get() : nullptr; }

private:
    CCritSec lock_;
    std::unique_ptr<SourcePin> pin_;
};

class PassThrough : public CTransformFilter {
public:
    explicit PassThrough(bool copy)
        : CTransformFilter("PassThrough", nullptr, CLSID_BenchFilter), copy_(copy) {}
    HRESULT CheckInputType(const CMediaType* mt) override {
        return *mt->Subtype() == MEDIASUBTYPE_YV12 ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override {
        return *in == *out ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT DecideBufferSize(IMemAllocator* a, ALLOCATOR_PROPERTIES* p) override {
        return AskBuffers(a, p, 4, LONG(m_pInput->CurrentMediaType().GetSampleSize()));
    }
    HRESULT GetMediaType(int i, CMediaType* mt) override {
        if (i < 0) return E_INVALIDARG;
        if (i > 0) return VFW_S_NO_MORE_ITEMS;
        *mt = m_pInput->CurrentMediaType();
        return S_OK;
    }
    HRESULT Transform(IMediaSample* in, IMediaSample* out) override {
        LONG n = in->GetActualDataLength();
        if (copy_) {
            BYTE *src = nullptr, *dst = nullptr;
            in->GetPointer(&src);
            out->GetPointer(&dst);
            std::memcpy(dst, src, std::size_t(n));
        }
        return out->SetActualDataLength(n);
    }

private:
    bool copy_;
};

class NullRenderer;

class NullInputPin : public CBaseInputPin {
public:
    NullInputPin(NullRenderer* f, CCritSec* lock);
    HRESULT CheckMediaType(const CMediaType* mt) override {
        return *mt->Subtype() == MEDIASUBTYPE_YV12 ? S_OK : S_FALSE;
    }
    HRESULT Receive(IMediaSample* s) override {
        HRESULT hr = CBaseInputPin::Receive(s);
        if (hr == S_OK) ++received;
        return hr;
    }
    HRESULT EndOfStream() override;
    long received = 0; // streaming thread only; read after completion
private:
    NullRenderer* r_;
};

class NullRenderer : public CBaseFilter {
public:
    NullRenderer()
        : CBaseFilter("NullRenderer", nullptr, &lock_, CLSID_BenchFilter),
          pin_(std::make_unique<NullInputPin>(this, &lock_)) {}
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? pin_.get() : nullptr; }
    NullInputPin* Pin() { return pin_.get(); }

private:
    CCritSec lock_;
    std::unique_ptr<NullInputPin> pin_;
};

NullInputPin::NullInputPin(NullRenderer* f, CCritSec* lock)
    : CBaseInputPin("NullInputPin", f, lock, nullptr, L"In"), r_(f) {}

HRESULT NullInputPin::EndOfStream() { return r_->NotifyEvent(EC_COMPLETE, S_OK, 0); }

IPin* PinOf(IBaseFilter* f, int n) { return static_cast<CBaseFilter*>(f)->GetPin(n); }

} // namespace

int main(int argc, char** argv) {
    long samples = 20000;
    bool copy = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--copy") copy = true;
        else samples = std::atol(argv[i]);
    }
    if (samples < 1) samples = 1;

    ComPtr<IGraphBuilder> gb;
    if (FAILED(FilterGraph::Create(IID_IGraphBuilder, reinterpret_cast<void**>(&gb)))) return 1;
    auto mc = gb.As<IMediaControl>();
    auto me = gb.As<IMediaEventEx>();

    auto* renderer = new NullRenderer();
    ComPtr<IBaseFilter> chain[5] = {new Source(samples), new PassThrough(copy), new PassThrough(copy),
                                    new PassThrough(copy), renderer};
    const wchar_t* names[5] = {L"Source", L"Pass 1", L"Pass 2", L"Pass 3", L"Renderer"};
    for (int i = 0; i < 5; ++i) gb->AddFilter(chain[i], names[i]);
    for (int i = 0; i < 4; ++i) {
        IPin* out = PinOf(chain[i], i == 0 ? 0 : 1);
        IPin* in = PinOf(chain[i + 1], 0);
        if (FAILED(gb->ConnectDirect(out, in, nullptr))) {
            std::fprintf(stderr, "pipeline_throughput: connect %d failed\n", i);
            return 1;
        }
    }

    auto t0 = std::chrono::steady_clock::now();
    if (FAILED(mc->Run())) return 1;
    LONG code = 0;
    if (me->WaitForCompletion(600000, &code) != S_OK || code != EC_COMPLETE) {
        std::fprintf(stderr, "pipeline_throughput: no completion\n");
        return 1;
    }
    auto t1 = std::chrono::steady_clock::now();
    mc->Stop();
    if (renderer->Pin()->received != samples) {
        std::fprintf(stderr, "pipeline_throughput: %ld of %ld samples arrived\n",
                     renderer->Pin()->received, samples);
        return 1;
    }
    double seconds = std::chrono::duration<double>(t1 - t0).count();
    // Four deliveries per sample: source -> 3 transforms -> renderer.
    double perStage = seconds * 1e6 / double(samples) / 4.0;
    std::printf("samples %ld seconds %.4f samples_per_s %.0f us_per_sample_stage %.3f%s\n", samples,
                seconds, double(samples) / seconds, perStage, copy ? " (with copies)" : "");
    return 0;
}
