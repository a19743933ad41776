#include "TestFilters.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/dshow/FormatBlocks.h"

namespace dshowtest {

CMediaType VideoType(const GUID& subtype, LONG width, LONG height) {
    CMediaType mt(&MEDIATYPE_Video);
    mt.SetSubtype(&subtype);
    mt.SetFormatType(&FORMAT_VideoInfo);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih->bmiHeader.biWidth = width;
    vih->bmiHeader.biHeight = height;
    vih->bmiHeader.biBitCount = 12;
    vih->bmiHeader.biSizeImage = GetBitmapSize(&vih->bmiHeader);
    vih->AvgTimePerFrame = kFrame;
    mt.SetSampleSize(vih->bmiHeader.biSizeImage);
    return mt;
}

Watchdog::Watchdog(int seconds) {
    t_ = std::thread([this, seconds] {
        std::unique_lock lk(m_);
        if (!cv_.wait_for(lk, std::chrono::seconds(seconds), [&] { return done_; })) {
            std::fprintf(stderr, "watchdog: test still running after %d s (deadlock?)\n", seconds);
            std::fflush(stderr);
            std::_Exit(3);
        }
    });
}

Watchdog::~Watchdog() {
    {
        std::lock_guard lk(m_);
        done_ = true;
    }
    cv_.notify_all();
    t_.join();
}

ComPtr<IPin> GetPinOf(IBaseFilter* f, PIN_DIRECTION dir, int n) {
    ComPtr<IEnumPins> e;
    f->EnumPins(&e);
    IPin* p = nullptr;
    ULONG got = 0;
    while (e && e->Next(1, &p, &got) == S_OK) {
        auto pin = ComPtr<IPin>::Adopt(p);
        PIN_DIRECTION d;
        pin->QueryDirection(&d);
        if (d == dir && n-- == 0) return pin;
    }
    return nullptr;
}

// ---------------------------------------------------------------- source

CTestSourcePin::CTestSourcePin(CTestSource* filter, CCritSec* lock, HRESULT* phr)
    : CBaseOutputPin("CTestSourcePin", filter, lock, phr, L"Output"), source_(filter) {}

CTestSourcePin::~CTestSourcePin() { Close(); }

HRESULT CTestSourcePin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IMediaSeeking) return ::GetInterface(static_cast<IMediaSeeking*>(this), ppv);
    return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CTestSourcePin::CheckMediaType(const CMediaType* pmt) {
    return *pmt == source_->type ? S_OK : S_FALSE;
}

HRESULT CTestSourcePin::GetMediaType(int i, CMediaType* pmt) {
    if (i < 0) return E_INVALIDARG;
    if (i > 0) return VFW_S_NO_MORE_ITEMS;
    *pmt = source_->type;
    return S_OK;
}

HRESULT CTestSourcePin::DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* prop) {
    prop->cBuffers = std::max(prop->cBuffers, source_->buffers);
    prop->cbBuffer = std::max(prop->cbBuffer, source_->bufferSize);
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = alloc->SetProperties(prop, &actual);
    if (FAILED(hr)) return hr;
    if (actual.cbBuffer < source_->bufferSize || actual.cBuffers < source_->buffers) return E_FAIL;
    return S_OK;
}

HRESULT CTestSourcePin::Active() {
    HRESULT hr = CBaseOutputPin::Active();
    if (FAILED(hr)) return hr;
    if (!Create()) return E_FAIL;
    CallWorker(kRun);
    return S_OK;
}

HRESULT CTestSourcePin::Inactive() {
    // Decommit first: a thread waiting for a buffer leaves with VFW_E_NOT_COMMITTED.
    HRESULT hr = CBaseOutputPin::Inactive();
    if (ThreadExists()) {
        CallWorker(kExit);
        Close();
    }
    return hr;
}

DWORD CTestSourcePin::ThreadProc() {
    for (;;) {
        DWORD cmd = GetRequest();
        Reply(S_OK);
        if (cmd == kExit) return 0;
        if (cmd == kRun) Stream();
    }
}

void CTestSourcePin::Stream() {
    DeliverNewSegment(segmentStart_, MAX_TIME, 1.0);
    for (;;) {
        if (CheckRequest(nullptr)) return;
        int i = next_;
        if (i >= source_->count) break;
        IMediaSample* s = nullptr;
        waitingForBuffer = true;
        HRESULT hr = GetDeliveryBuffer(&s, nullptr, nullptr, 0);
        waitingForBuffer = false;
        if (FAILED(hr)) {
            lastDeliverResult = hr;
            return;
        }
        BYTE* p = nullptr;
        s->GetPointer(&p);
        std::uint32_t n = std::uint32_t(i);
        std::memcpy(p, &n, 4);
        s->SetActualDataLength(std::min<LONG>(s->GetSize(), source_->bufferSize));
        REFERENCE_TIME start = i * kFrame - segmentStart_, stop = start + kFrame;
        s->SetTime(&start, &stop);
        s->SetSyncPoint(TRUE);
        s->SetDiscontinuity(discontinuity_.exchange(false));
        hr = Deliver(s);
        s->Release();
        lastDeliverResult = hr;
        if (hr != S_OK) return;
        ++delivered;
        next_ = i + 1;
    }
    DeliverEndOfStream();
}

HRESULT CTestSourcePin::GetCapabilities(DWORD* p) {
    *p = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards | AM_SEEKING_CanSeekBackwards |
         AM_SEEKING_CanGetDuration | AM_SEEKING_CanGetCurrentPos;
    return S_OK;
}
HRESULT CTestSourcePin::CheckCapabilities(DWORD* p) {
    DWORD c;
    GetCapabilities(&c);
    return (*p & c) == *p ? S_OK : S_FALSE;
}
HRESULT CTestSourcePin::IsFormatSupported(const GUID* f) {
    return *f == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}
HRESULT CTestSourcePin::QueryPreferredFormat(GUID* f) {
    *f = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}
HRESULT CTestSourcePin::GetTimeFormat(GUID* f) { return QueryPreferredFormat(f); }
HRESULT CTestSourcePin::IsUsingTimeFormat(const GUID* f) { return IsFormatSupported(f); }
HRESULT CTestSourcePin::SetTimeFormat(const GUID* f) {
    return *f == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
}
HRESULT CTestSourcePin::GetDuration(LONGLONG* d) {
    *d = source_->count * kFrame;
    return S_OK;
}
HRESULT CTestSourcePin::GetStopPosition(LONGLONG* s) { return GetDuration(s); }
HRESULT CTestSourcePin::GetCurrentPosition(LONGLONG* c) {
    *c = next_ * kFrame;
    return S_OK;
}
HRESULT CTestSourcePin::ConvertTimeFormat(LONGLONG*, const GUID*, LONGLONG, const GUID*) {
    return E_NOTIMPL;
}
HRESULT CTestSourcePin::SetPositions(LONGLONG* c, DWORD cf, LONGLONG*, DWORD) {
    if (!c || (cf & AM_SEEKING_PositioningBitsMask) != AM_SEEKING_AbsolutePositioning) return S_OK;
    bool running = ThreadExists();
    if (running) {
        DeliverBeginFlush();
        CallWorker(kPause); // the thread leaves Stream and waits
    }
    next_ = int(*c / kFrame);
    segmentStart_ = next_ * kFrame;
    discontinuity_ = true;
    if (running) {
        DeliverEndFlush();
        CallWorker(kRun);
    }
    return S_OK;
}
HRESULT CTestSourcePin::GetPositions(LONGLONG* c, LONGLONG* s) {
    if (c) GetCurrentPosition(c);
    if (s) GetStopPosition(s);
    return S_OK;
}
HRESULT CTestSourcePin::GetAvailable(LONGLONG* e, LONGLONG* l) {
    if (e) *e = 0;
    if (l) GetDuration(l);
    return S_OK;
}
HRESULT CTestSourcePin::SetRate(double r) { return r == 1.0 ? S_OK : E_INVALIDARG; }
HRESULT CTestSourcePin::GetRate(double* r) {
    *r = 1.0;
    return S_OK;
}
HRESULT CTestSourcePin::GetPreroll(LONGLONG* p) {
    *p = 0;
    return S_OK;
}

CTestSource::CTestSource(const CMediaType& mt, int count, LONG buffers, LONG bufferSize)
    : CBaseFilter("CTestSource", nullptr, &lock_, CLSID_TestSource), type(mt), count(count),
      buffers(buffers), bufferSize(bufferSize) {
    HRESULT hr = S_OK;
    pin_ = std::make_unique<CTestSourcePin>(this, &lock_, &hr);
}

CTestSource::~CTestSource() = default;

CBasePin* CTestSource::GetPin(int n) { return n == 0 ? pin_.get() : nullptr; }

// ---------------------------------------------------------------- transform

CTestTransform::CTestTransform(const GUID& in, const GUID& out, bool copy)
    : CTransformFilter("CTestTransform", nullptr, CLSID_TestTransform), in_(in), out_(out),
      copy_(copy) {}

HRESULT CTestTransform::Create(IUnknown*, REFIID riid, void** ppv, const GUID& in, const GUID& out) {
    auto* t = new CTestTransform(in, out);
    t->NonDelegatingAddRef();
    HRESULT hr = t->NonDelegatingQueryInterface(riid, ppv);
    t->NonDelegatingRelease();
    return hr;
}

HRESULT CTestTransform::CheckInputType(const CMediaType* mt) {
    return *mt->Type() == MEDIATYPE_Video && *mt->Subtype() == in_ ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CTestTransform::CheckTransform(const CMediaType* in, const CMediaType* out) {
    return *out->Type() == MEDIATYPE_Video && *out->Subtype() == out_ ? S_OK
                                                                       : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CTestTransform::DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* prop) {
    if (!m_pInput->IsConnected()) return E_UNEXPECTED;
    prop->cBuffers = std::max<LONG>(prop->cBuffers, 2);
    prop->cbBuffer = std::max<LONG>(prop->cbBuffer, LONG(m_pInput->CurrentMediaType().GetSampleSize()));
    if (prop->cbBuffer < 1024) prop->cbBuffer = 1024;
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = alloc->SetProperties(prop, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < prop->cbBuffer ? E_FAIL : S_OK;
}

HRESULT CTestTransform::GetMediaType(int i, CMediaType* pmt) {
    if (i < 0) return E_INVALIDARG;
    if (i > 0) return VFW_S_NO_MORE_ITEMS;
    *pmt = m_pInput->CurrentMediaType();
    pmt->SetSubtype(&out_);
    return S_OK;
}

HRESULT CTestTransform::Transform(IMediaSample* in, IMediaSample* out) {
    BYTE *src = nullptr, *dst = nullptr;
    in->GetPointer(&src);
    out->GetPointer(&dst);
    LONG n = in->GetActualDataLength();
    if (n > out->GetSize()) return E_FAIL;
    if (copy_) std::memcpy(dst, src, std::size_t(n));
    out->SetActualDataLength(n);
    ++transformed;
    return S_OK;
}

// ---------------------------------------------------------------- renderer

CCountingInputPin::CCountingInputPin(CCountingRenderer* filter, CCritSec* lock, HRESULT* phr)
    : CBaseInputPin("CCountingInputPin", filter, lock, phr, L"In"), r_(filter) {}

HRESULT CCountingInputPin::CheckMediaType(const CMediaType* pmt) {
    if (!(*pmt->Type() == MEDIATYPE_Video)) return S_FALSE;
    if (!(r_->accept == GUID_NULL) && !(*pmt->Subtype() == r_->accept)) return S_FALSE;
    return S_OK;
}

HRESULT CCountingInputPin::GetMediaType(int i, CMediaType* pmt) {
    if (i < 0) return E_INVALIDARG;
    if (i >= int(r_->offered.size())) return VFW_S_NO_MORE_ITEMS;
    *pmt = r_->offered[std::size_t(i)];
    return S_OK;
}

HRESULT CCountingInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) {
    if (r_->requirements.cBuffers == 0) return E_NOTIMPL;
    *props = r_->requirements;
    return S_OK;
}

HRESULT CCountingInputPin::NotifyAllocator(IMemAllocator* alloc, BOOL readOnly) {
    if (r_->refuseAllocator) return E_FAIL;
    return CBaseInputPin::NotifyAllocator(alloc, readOnly);
}

HRESULT CCountingInputPin::Receive(IMediaSample* s) {
    HRESULT hr = CBaseInputPin::Receive(s);
    if (hr != S_OK) return hr;
    BYTE* p = nullptr;
    s->GetPointer(&p);
    std::uint32_t n = 0;
    if (s->GetActualDataLength() >= 4) std::memcpy(&n, p, 4);
    REFERENCE_TIME a = -1, b = -1;
    s->GetTime(&a, &b);
    {
        std::lock_guard lk(r_->m);
        r_->numbers.push_back(n);
        r_->starts.push_back(a);
        r_->discontinuities.push_back(s->IsDiscontinuity() == S_OK);
        r_->threads.push_back(std::this_thread::get_id());
        if (r_->holdSamples) {
            s->AddRef();
            r_->held_.push_back(s);
        }
    }
    r_->cv.notify_all();
    if (r_->block) {
        std::unique_lock lk(r_->m);
        r_->cv.wait(lk, [&] { return r_->released_ || IsFlushing() || IsStopped(); });
        if (IsStopped()) return VFW_E_WRONG_STATE;
    }
    return S_OK;
}

HRESULT CCountingInputPin::EndOfStream() {
    HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;
    {
        std::lock_guard lk(r_->m);
        ++r_->eos;
    }
    r_->cv.notify_all();
    return r_->NotifyEvent(EC_COMPLETE, S_OK, 0);
}

HRESULT CCountingInputPin::BeginFlush() {
    CBaseInputPin::BeginFlush();
    {
        std::lock_guard lk(r_->m);
        ++r_->beginFlush;
    }
    r_->cv.notify_all();
    return S_OK;
}

HRESULT CCountingInputPin::EndFlush() {
    {
        std::lock_guard lk(r_->m);
        ++r_->endFlush;
    }
    return CBaseInputPin::EndFlush();
}

HRESULT CCountingInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    CBasePin::NewSegment(start, stop, rate);
    std::lock_guard lk(r_->m);
    r_->segments.push_back(start);
    return S_OK;
}

HRESULT CCountingInputPin::Inactive() {
    // Decommit first, so upstream waiting for a buffer leaves instead of
    // getting one of those handed back here.
    HRESULT hr = CBaseInputPin::Inactive();
    std::vector<IMediaSample*> held;
    {
        std::lock_guard lk(r_->m);
        held.swap(r_->held_);
    }
    for (IMediaSample* s : held) s->Release();
    return hr;
}

CCountingRenderer::CCountingRenderer(const GUID& accept)
    : CBaseFilter("CCountingRenderer", nullptr, &lock_, CLSID_TestRenderer), accept(accept) {
    HRESULT hr = S_OK;
    pin_ = std::make_unique<CCountingInputPin>(this, &lock_, &hr);
}

CCountingRenderer::~CCountingRenderer() {
    if (passThru_) passThru_->NonDelegatingRelease();
    for (IMediaSample* s : held_) s->Release();
}

HRESULT CCountingRenderer::Create(IUnknown*, REFIID riid, void** ppv, const GUID& accept) {
    auto* r = new CCountingRenderer(accept);
    r->NonDelegatingAddRef();
    HRESULT hr = r->NonDelegatingQueryInterface(riid, ppv);
    r->NonDelegatingRelease();
    return hr;
}

HRESULT CCountingRenderer::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IMediaSeeking || riid == IID_IMediaPosition) {
        {
            CAutoLock lock(&lock_);
            if (!passThru_) {
                HRESULT hr = CreatePosPassThru(GetOwner(), pin_.get(), &passThru_);
                if (FAILED(hr)) return hr;
            }
        }
        return passThru_->NonDelegatingQueryInterface(riid, ppv);
    }
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

CBasePin* CCountingRenderer::GetPin(int n) { return n == 0 ? pin_.get() : nullptr; }

HRESULT CCountingRenderer::Stop() {
    HRESULT hr = CBaseFilter::Stop();
    cv.notify_all(); // a blocked Receive sees the stopped state
    return hr;
}

size_t CCountingRenderer::Count() {
    std::lock_guard lk(m);
    return numbers.size();
}

void CCountingRenderer::Unblock() {
    {
        std::lock_guard lk(m);
        released_ = true;
    }
    cv.notify_all();
}

// ---------------------------------------------------------------- tee

CTestTeeInput::CTestTeeInput(CTestTee* tee, CCritSec* lock, HRESULT* phr)
    : CBaseInputPin("CTestTeeInput", tee, lock, phr, L"Input"), tee_(tee) {}

HRESULT CTestTeeInput::CheckMediaType(const CMediaType* pmt) {
    return *pmt->Type() == MEDIATYPE_Video ? S_OK : S_FALSE;
}

HRESULT CTestTeeInput::Receive(IMediaSample* s) {
    HRESULT hr = CBaseInputPin::Receive(s);
    if (hr != S_OK) return hr;
    for (CTestTeeOutput* o : tee_->outputs)
        if (o->IsConnected()) o->Deliver(s);
    return S_OK;
}

HRESULT CTestTeeInput::EndOfStream() {
    for (CTestTeeOutput* o : tee_->outputs)
        if (o->IsConnected()) o->DeliverEndOfStream();
    return S_OK;
}

HRESULT CTestTeeInput::BeginFlush() {
    for (CTestTeeOutput* o : tee_->outputs)
        if (o->IsConnected()) o->DeliverBeginFlush();
    return CBaseInputPin::BeginFlush();
}

HRESULT CTestTeeInput::EndFlush() {
    for (CTestTeeOutput* o : tee_->outputs)
        if (o->IsConnected()) o->DeliverEndFlush();
    return CBaseInputPin::EndFlush();
}

HRESULT CTestTeeInput::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    for (CTestTeeOutput* o : tee_->outputs)
        if (o->IsConnected()) o->DeliverNewSegment(start, stop, rate);
    return CBasePin::NewSegment(start, stop, rate);
}

CTestTeeOutput::CTestTeeOutput(CTestTee* tee, CCritSec* lock, HRESULT* phr, LPCWSTR name)
    : CBaseOutputPin("CTestTeeOutput", tee, lock, phr, name), tee_(tee) {}

CTestTeeOutput::~CTestTeeOutput() = default;

HRESULT CTestTeeOutput::CheckMediaType(const CMediaType* pmt) {
    return tee_->input->IsConnected() && *pmt == tee_->input->CurrentMediaType()
               ? S_OK
               : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CTestTeeOutput::GetMediaType(int i, CMediaType* pmt) {
    if (i < 0) return E_INVALIDARG;
    if (i > 0 || !tee_->input->IsConnected()) return VFW_S_NO_MORE_ITEMS;
    *pmt = tee_->input->CurrentMediaType();
    return S_OK;
}

HRESULT CTestTeeOutput::DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* prop) {
    prop->cBuffers = std::max<LONG>(prop->cBuffers, 1);
    prop->cbBuffer = std::max<LONG>(prop->cbBuffer, 1024);
    ALLOCATOR_PROPERTIES actual{};
    return alloc->SetProperties(prop, &actual);
}

HRESULT CTestTeeOutput::Active() {
    CAutoLock lock(m_pLock);
    CAutoLock stream(&streamLock_);
    if (IsConnected() && !queue_) {
        HRESULT hr = S_OK;
        queue_ = std::make_unique<COutputQueue>(GetConnected(), &hr, FALSE, TRUE, tee_->batch, FALSE,
                                                tee_->list);
        if (FAILED(hr)) {
            queue_.reset();
            return hr;
        }
    }
    return CBaseOutputPin::Active();
}

HRESULT CTestTeeOutput::Inactive() {
    CAutoLock lock(m_pLock);
    // Release a streaming thread blocked in the queue, then delete the queue
    // once that thread has left it.
    if (queue_) queue_->Shutdown();
    {
        CAutoLock stream(&streamLock_);
        queue_.reset();
    }
    return CBaseOutputPin::Inactive();
}

HRESULT CTestTeeOutput::Deliver(IMediaSample* s) {
    if (!s) return E_POINTER;
    CAutoLock stream(&streamLock_);
    if (!queue_) return S_OK;
    s->AddRef();
    return queue_->Receive(s);
}

HRESULT CTestTeeOutput::DeliverEndOfStream() {
    CAutoLock stream(&streamLock_);
    if (queue_) queue_->EOS();
    return S_OK;
}
HRESULT CTestTeeOutput::DeliverBeginFlush() {
    // Not under streamLock_: the flush must get past a thread blocked in Receive.
    CAutoLock lock(m_pLock);
    if (queue_) queue_->BeginFlush();
    return S_OK;
}
HRESULT CTestTeeOutput::DeliverEndFlush() {
    CAutoLock lock(m_pLock);
    if (queue_) queue_->EndFlush();
    return S_OK;
}
HRESULT CTestTeeOutput::DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    CAutoLock stream(&streamLock_);
    if (queue_) queue_->NewSegment(start, stop, rate);
    return S_OK;
}

CTestTee::CTestTee(LONG batch, LONG list)
    : CBaseFilter("CTestTee", nullptr, &lock_, CLSID_TestTee), batch(batch), list(list) {
    HRESULT hr = S_OK;
    input = new CTestTeeInput(this, &lock_, &hr);
    outputs[0] = new CTestTeeOutput(this, &lock_, &hr, L"Output0");
    outputs[1] = new CTestTeeOutput(this, &lock_, &hr, L"Output1");
}

CTestTee::~CTestTee() {
    delete outputs[1];
    delete outputs[0];
    delete input;
}

CBasePin* CTestTee::GetPin(int n) {
    if (n == 0) return input;
    if (n == 1 || n == 2) return outputs[n - 1];
    return nullptr;
}

} // namespace dshowtest
