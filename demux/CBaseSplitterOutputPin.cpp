#include "demux/CBaseSplitterOutputPin.h"

#include <algorithm>
#include <cstring>

#include "demux/CBaseSplitterFilter.h"
#include "platform/dshow/MediaSample.h"

namespace {

// The platform's script-command renderer: a pin feeding it gets a blank
// command after each new segment so that it shows nothing stale.
constexpr CLSID CLSID_ScriptCommandRenderer = MakeGuid("48025243-2D39-11CE-875D-00608CB78066");

bool SparseType(const AM_MEDIA_TYPE& mt) {
    return mt.majortype == MEDIATYPE_Text || mt.majortype == MEDIATYPE_ScriptCommand ||
           mt.majortype == MEDIATYPE_Subtitle || mt.subtype == MEDIASUBTYPE_DVD_SUBPICTURE ||
           mt.subtype == MakeGuid("DA5B82EE-6BD2-426F-BF1E-30112DA78AE1") || // SVCD subpicture
           mt.subtype == MakeGuid("7B57308F-5154-4C36-B903-52FE76E184FC");   // CVD subpicture
}

// The first output pin of the filter that owns `pin`, with a reference; null when none.
ComPtr<IPin> FirstOutputPinOfOwner(IPin* pin, CLSID* clsid) {
    PIN_INFO info{};
    if (FAILED(pin->QueryPinInfo(&info)) || !info.pFilter) return nullptr;
    ComPtr<IBaseFilter> filter = ComPtr<IBaseFilter>::Adopt(info.pFilter);
    filter->GetClassID(clsid);
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(&pins)) || !pins) return nullptr;
    IPin* p = nullptr;
    ULONG got = 0;
    while (pins->Next(1, &p, &got) == S_OK && got == 1) {
        ComPtr<IPin> candidate = ComPtr<IPin>::Adopt(p);
        PIN_DIRECTION dir;
        if (SUCCEEDED(candidate->QueryDirection(&dir)) && dir == PINDIR_OUTPUT) return candidate;
    }
    return nullptr;
}

} // namespace

CBaseSplitterOutputPin::CBaseSplitterOutputPin(std::vector<CMediaType> mts, LPCWSTR name,
                                               CBaseSplitterFilter* filter, CCritSec* lock,
                                               HRESULT* phr, int buffers)
    : CBaseOutputPin("splitter output pin", filter, lock, phr, name), splitter_(filter),
      buffers_(std::max(buffers, 1)), mts_(std::move(mts)) {
    if (!mts_.empty()) sparse_ = SparseType(mts_.front());
}

CBaseSplitterOutputPin::~CBaseSplitterOutputPin() {
    StopDeliveryThread();
}

HRESULT CBaseSplitterOutputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IMediaSeeking) return ::GetInterface(static_cast<IMediaSeeking*>(this), ppv);
    return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseSplitterOutputPin::CheckMediaType(const CMediaType* pmt) {
    if (!pmt) return E_POINTER;
    std::lock_guard lk(typesLock_);
    for (const auto& mt : mts_)
        if (mt == *pmt) return S_OK;
    return E_INVALIDARG;
}

HRESULT CBaseSplitterOutputPin::GetMediaType(int pos, CMediaType* pmt) {
    if (pos < 0) return E_INVALIDARG;
    std::lock_guard lk(typesLock_);
    if (pos >= int(mts_.size())) return VFW_S_NO_MORE_ITEMS;
    *pmt = mts_[size_t(pos)];
    return S_OK;
}

HRESULT CBaseSplitterOutputPin::SetMediaType(const CMediaType* pmt) {
    HRESULT hr = CBaseOutputPin::SetMediaType(pmt);
    if (SUCCEEDED(hr) && pmt) sparse_ = SparseType(*pmt);
    return hr;
}

HRESULT CBaseSplitterOutputPin::DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* prop) {
    if (!alloc || !prop) return E_POINTER;
    ALLOCATOR_PROPERTIES req = *prop;
    req.cBuffers = std::max(buffers_, 1);
    req.cbBuffer = LONG(std::max<ULONG>(m_mt.GetSampleSize(), 1));
    if (req.cbAlign < 1) req.cbAlign = 1;
    ALLOCATOR_PROPERTIES got{};
    HRESULT hr = alloc->SetProperties(&req, &got);
    if (FAILED(hr)) return hr;
    return got.cBuffers < req.cBuffers || got.cbBuffer < req.cbBuffer ? E_FAIL : S_OK;
}

HRESULT CBaseSplitterOutputPin::Active() {
    CAutoLock lk(m_pLock);
    if (!IsConnected()) return S_OK;
    HRESULT hr = CBaseOutputPin::Active();
    if (FAILED(hr)) return hr;
    hrDeliver_ = S_OK;
    if (!ThreadExists() && !Create()) return E_FAIL;
    return S_OK;
}

HRESULT CBaseSplitterOutputPin::Inactive() {
    CAutoLock lk(m_pLock);
    // Decommit first: it releases a delivery thread blocked on a buffer.
    HRESULT hr = IsConnected() ? CBaseOutputPin::Inactive() : S_OK;
    StopDeliveryThread();
    queue_.RemoveAll();
    return hr;
}

void CBaseSplitterOutputPin::StopDeliveryThread() {
    if (!ThreadExists()) return;
    hrDeliver_ = S_FALSE;
    endFlush_.Set();
    CallWorker(kCmdExit);
    Close();
}

HRESULT CBaseSplitterOutputPin::EnqueuePacket(std::unique_ptr<Packet> p) {
    if (!ThreadExists()) return S_FALSE;
    while (hrDeliver_ == S_OK) {
        if (splitter_->NeedMoreData() && queue_.GetSize() <= kMaxQueueBytes) break;
        splitter_->WaitForQueueSpace(100);
    }
    HRESULT hr = hrDeliver_;
    if (hr != S_OK) return hr;
    queue_.Add(std::move(p));
    return hrDeliver_;
}

HRESULT CBaseSplitterOutputPin::EnqueueEndOfStream() {
    if (!ThreadExists()) return S_FALSE;
    queue_.Add(nullptr);
    return S_OK;
}

DWORD CBaseSplitterOutputPin::ThreadProc() {
    flushing_ = false;
    flushed_ = false;
    endFlush_.Set();
    for (;;) {
        queue_.WaitForPacket(1);
        DWORD cmd = 0;
        if (CheckRequest(&cmd)) {
            GetRequest();
            Reply(S_OK);
            if (cmd == kCmdExit) return 0;
            continue;
        }
        std::size_t n = queue_.GetCount();
        while (n-- > 0 && hrDeliver_ == S_OK) {
            std::unique_ptr<Packet> p;
            if (!queue_.Remove(&p)) break;
            flushed_ = false;
            HRESULT hr = p ? SendPacket(std::move(p)) : SendEndOfStream();
            endFlush_.Wait();
            if (hr != S_OK && !flushed_) {
                hrDeliver_ = hr;
                break;
            }
        }
        // A queue that ran low wakes a worker waiting for space, instead of
        // leaving it asleep for the rest of its polling step.
        if (queue_.GetCount() < kLowPackets || queue_.GetSize() < kLowBytes) splitter_->WakeWorker();
    }
}

void CBaseSplitterOutputPin::UpdateBitRate(const Packet& p) {
    bytesSince_ += std::int64_t(p.data.size());
    if (!p.HasTime()) return;
    REFERENCE_TIME last = lastMeasure_;
    if (last == Packet::kNoTime) {
        lastMeasure_ = p.start;
        return;
    }
    if (p.start - last <= 10000000) return;
    REFERENCE_TIME span = p.start - last;
    curBitRate_ = int(8 * bytesSince_ * 10000000 / span);
    totalBytes_ += bytesSince_;
    totalTime_ += span;
    avgBitRate_ = int(8 * totalBytes_ * 10000000 / totalTime_);
    bytesSince_ = 0;
    lastMeasure_ = p.start;
}

// A sample of at least `bytes`; grows the allocator's buffers to 1.5 times the
// packet when the agreed ones are too small.
HRESULT CBaseSplitterOutputPin::GetBufferFor(std::size_t bytes, IMediaSample** sample) {
    HRESULT hr = GetDeliveryBuffer(sample, nullptr, nullptr, 0);
    if (FAILED(hr)) return hr;
    if (std::size_t((*sample)->GetSize()) >= bytes) return S_OK;
    (*sample)->Release();
    *sample = nullptr;
    if (bytes > std::size_t(INT32_MAX / 3)) return E_OUTOFMEMORY;
    ALLOCATOR_PROPERTIES props{};
    IMemAllocator* alloc = Allocator();
    if (!alloc || FAILED(hr = alloc->GetProperties(&props)))
        return FAILED(hr) ? hr : VFW_E_NO_ALLOCATOR;
    props.cbBuffer = LONG(bytes * 3 / 2);
    if (props.cBuffers > 1) {
        // The peer gives back the samples it holds.
        CBaseOutputPin::DeliverBeginFlush();
        CBaseOutputPin::DeliverEndFlush();
    }
    ALLOCATOR_PROPERTIES got{};
    alloc->Decommit();
    hr = alloc->SetProperties(&props, &got);
    HRESULT hrCommit = alloc->Commit();
    if (FAILED(hr)) return hr;
    if (FAILED(hrCommit)) return hrCommit;
    hr = GetDeliveryBuffer(sample, nullptr, nullptr, 0);
    if (FAILED(hr)) return hr;
    if (std::size_t((*sample)->GetSize()) < bytes) {
        (*sample)->Release();
        *sample = nullptr;
        return E_FAIL;
    }
    return S_OK;
}

HRESULT CBaseSplitterOutputPin::SendPacket(std::unique_ptr<Packet> p) {
    if (!p || p->data.empty()) return S_OK;
    UpdateBitRate(*p);
    double rate = splitter_->PlaybackRate();
    if (p->HasTime() && rate > 0 && rate != 1.0) {
        p->start = REFERENCE_TIME(double(p->start) / rate);
        if (p->stop != Packet::kNoTime) p->stop = REFERENCE_TIME(double(p->stop) / rate);
    }
    IMediaSample* sample = nullptr;
    HRESULT hr = GetBufferFor(p->data.size(), &sample);
    if (FAILED(hr)) return hr;
    if (p->mediaType) {
        sample->SetMediaType(p->mediaType.get());
        p->discontinuity = true;
        std::lock_guard lk(typesLock_);
        mts_.assign(1, *p->mediaType);
    }
    BYTE* dst = nullptr;
    sample->GetPointer(&dst);
    std::memcpy(dst, p->data.data(), p->data.size());
    sample->SetActualDataLength(LONG(p->data.size()));
    if (p->HasTime()) {
        REFERENCE_TIME stop = p->stop == Packet::kNoTime ? p->start + 1 : p->stop;
        sample->SetTime(&p->start, &stop);
    } else {
        sample->SetTime(nullptr, nullptr);
    }
    sample->SetMediaTime(nullptr, nullptr);
    sample->SetDiscontinuity(p->discontinuity);
    sample->SetSyncPoint(p->syncPoint);
    sample->SetPreroll(p->HasTime() && p->start < 0);
    hr = Deliver(sample);
    sample->Release();
    return hr;
}

HRESULT CBaseSplitterOutputPin::DeliverBeginFlush() {
    endFlush_.Reset();
    flushed_ = false;
    flushing_ = true;
    hrDeliver_ = S_FALSE;
    queue_.RemoveAll();
    splitter_->WakeWorker();
    HRESULT hr = IsConnected() ? CBaseOutputPin::DeliverBeginFlush() : S_OK;
    if (hr != S_OK) endFlush_.Set();
    return hr;
}

HRESULT CBaseSplitterOutputPin::DeliverEndFlush() {
    if (!ThreadExists()) return S_FALSE;
    HRESULT hr = IsConnected() ? CBaseOutputPin::DeliverEndFlush() : S_OK;
    hrDeliver_ = S_OK;
    flushing_ = false;
    flushed_ = true;
    endFlush_.Set();
    return hr;
}

HRESULT CBaseSplitterOutputPin::DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop,
                                                  double dRate) {
    lastMeasure_ = Packet::kNoTime;
    if (flushing_) return S_FALSE;
    segmentStart_ = tStart;
    HRESULT hr = CBaseOutputPin::DeliverNewSegment(tStart, tStop, dRate);
    QueueScriptCommandPacketIfNeeded();
    return hr;
}

void CBaseSplitterOutputPin::QueueScriptCommandPacketIfNeeded() {
    ComPtr<IPin> peer = GetConnected();
    for (int depth = 0; peer && depth < 32; ++depth) {
        CLSID clsid = GUID_NULL;
        ComPtr<IPin> next = FirstOutputPinOfOwner(peer.Get(), &clsid);
        if (clsid == CLSID_ScriptCommandRenderer) {
            auto p = std::make_unique<Packet>();
            p->track = 0xFFFFFFFF;
            p->start = -1;
            p->stop = 0;
            p->SetData(" ", 2);
            EnqueuePacket(std::move(p));
            return;
        }
        if (!next) return;
        IPin* connected = nullptr;
        if (FAILED(next->ConnectedTo(&connected)) || !connected) return;
        peer = ComPtr<IPin>::Adopt(connected);
    }
}

// -- IMediaSeeking: the filter answers.
HRESULT CBaseSplitterOutputPin::GetCapabilities(DWORD* p) {
    return splitter_->GetCapabilities(p);
}
HRESULT CBaseSplitterOutputPin::CheckCapabilities(DWORD* p) {
    return splitter_->CheckCapabilities(p);
}
HRESULT CBaseSplitterOutputPin::IsFormatSupported(const GUID* p) {
    return splitter_->IsFormatSupported(p);
}
HRESULT CBaseSplitterOutputPin::QueryPreferredFormat(GUID* p) {
    return splitter_->QueryPreferredFormat(p);
}
HRESULT CBaseSplitterOutputPin::GetTimeFormat(GUID* p) {
    return splitter_->GetTimeFormat(p);
}
HRESULT CBaseSplitterOutputPin::IsUsingTimeFormat(const GUID* p) {
    return splitter_->IsUsingTimeFormat(p);
}
HRESULT CBaseSplitterOutputPin::SetTimeFormat(const GUID* p) {
    return splitter_->SetTimeFormat(p);
}
HRESULT CBaseSplitterOutputPin::GetDuration(LONGLONG* p) {
    return splitter_->GetDuration(p);
}
HRESULT CBaseSplitterOutputPin::GetStopPosition(LONGLONG* p) {
    return splitter_->GetStopPosition(p);
}
HRESULT CBaseSplitterOutputPin::GetCurrentPosition(LONGLONG* p) {
    return splitter_->GetCurrentPosition(p);
}
HRESULT CBaseSplitterOutputPin::ConvertTimeFormat(LONGLONG* t, const GUID* tf, LONGLONG s,
                                                  const GUID* sf) {
    return splitter_->ConvertTimeFormat(t, tf, s, sf);
}
HRESULT CBaseSplitterOutputPin::SetPositions(LONGLONG* cur, DWORD curFlags, LONGLONG* stop,
                                             DWORD stopFlags) {
    return splitter_->SetPositionsFrom(this, cur, curFlags, stop, stopFlags);
}
HRESULT CBaseSplitterOutputPin::GetPositions(LONGLONG* c, LONGLONG* s) {
    return splitter_->GetPositions(c, s);
}
HRESULT CBaseSplitterOutputPin::GetAvailable(LONGLONG* e, LONGLONG* l) {
    return splitter_->GetAvailable(e, l);
}
HRESULT CBaseSplitterOutputPin::SetRate(double r) {
    return splitter_->SetRate(r);
}
HRESULT CBaseSplitterOutputPin::GetRate(double* r) {
    return splitter_->GetRate(r);
}
HRESULT CBaseSplitterOutputPin::GetPreroll(LONGLONG* p) {
    return splitter_->GetPreroll(p);
}
