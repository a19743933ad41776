#include "demux/CBaseSplitterFilter.h"

#include <algorithm>

#include "platform/win/DebugTrace.h"

namespace {

constexpr DWORD kSeekingCaps = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards |
                               AM_SEEKING_CanSeekBackwards | AM_SEEKING_CanGetStopPos |
                               AM_SEEKING_CanGetDuration; // 0x37

} // namespace

CBaseSplitterFilter::CBaseSplitterFilter(const char* name, IUnknown* outer, HRESULT* phr,
                                         REFCLSID clsid)
    : CBaseFilter(name, outer, this, clsid, phr) {
    HRESULT hr = S_OK;
    input_ = std::make_unique<CBaseSplitterInputPin>(this, this, &hr);
    if (phr) *phr = hr;
}

CBaseSplitterFilter::~CBaseSplitterFilter() {
    // The worker and the delivery threads use the pins: end them first.
    if (!IsStopped() || ThreadExists()) Stop();
    CAMThread::Close();
    for (auto& pin : outputs_) {
        if (pin->IsConnected()) {
            if (IPin* peer = pin->GetConnected()) peer->Disconnect();
            pin->DisconnectInternal();
        }
    }
    input_->DisconnectInternal();
}

HRESULT CBaseSplitterFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IMediaSeeking) return ::GetInterface(static_cast<IMediaSeeking*>(this), ppv);
    if (riid == IID_IKeyFrameInfo) return ::GetInterface(static_cast<IKeyFrameInfo*>(this), ppv);
    if (riid == IID_IBufferInfo) return ::GetInterface(static_cast<IBufferInfo*>(this), ppv);
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

int CBaseSplitterFilter::GetPinCount() {
    CAutoLock lk(this);
    return int(outputs_.size()) + 1;
}

CBasePin* CBaseSplitterFilter::GetPin(int n) {
    CAutoLock lk(this);
    if (n >= 0 && n < int(outputs_.size())) return outputs_[size_t(n)].get();
    if (n == int(outputs_.size())) return input_.get();
    return nullptr;
}

HRESULT CBaseSplitterFilter::Stop() {
    CAutoLock lk(this);
    if (IsStopped() && !ThreadExists()) return S_OK; // nothing runs: no flush to send
    DebugTrace("Stop\n");
    BeginFlushOutputs();
    if (ThreadExists()) {
        CallWorker(kCmdExit);
        CAMThread::Close();
    }
    EndFlushOutputs();
    return CBaseFilter::Stop();
}

HRESULT CBaseSplitterFilter::Pause() {
    CAutoLock lk(this);
    DebugTrace("Pause\n");
    FILTER_STATE old = m_State;
    HRESULT hr = CBaseFilter::Pause();
    if (FAILED(hr)) return hr;
    if (old == State_Stopped) {
        DebugTrace("Pause State_Stopped Create\n");
        if (!ThreadExists() && !Create()) return E_FAIL;
    }
    return hr;
}

void CBaseSplitterFilter::BeginFlushOutputs() {
    flushing_ = true;
    for (auto& pin : outputs_)
        pin->DeliverBeginFlush();
    wakeWorker_.Set();
}

void CBaseSplitterFilter::EndFlushOutputs() {
    for (auto& pin : outputs_)
        pin->DeliverEndFlush();
    flushing_ = false;
}

HRESULT CBaseSplitterFilter::RemoveOutputPins() {
    CAutoLock lk(this);
    if (!IsStopped()) return VFW_E_NOT_STOPPED;
    for (auto& pin : outputs_) {
        if (pin->IsConnected()) {
            if (IPin* peer = pin->GetConnected()) peer->Disconnect();
            pin->Disconnect();
        }
        retired_.push_back(std::move(pin));
    }
    outputs_.clear();
    {
        std::lock_guard l(pinMapLock_);
        pinMap_.clear();
    }
    {
        std::lock_guard l(typesLock_);
        pendingTypes_.clear();
    }
    m_rtDuration = 0;
    IncrementPinVersion();
    return S_OK;
}

HRESULT CBaseSplitterFilter::DisconnectPins() {
    if (!IsStopped()) return VFW_E_NOT_STOPPED;
    // The upstream pin is released without our lock held: connecting took its
    // filter's lock before ours.
    if (ComPtr<IPin> upstream = input_->GetConnected()) {
        upstream->Disconnect();
        input_->Disconnect(); // retires the output pins too
    }
    return RemoveOutputPins();
}

std::wstring CBaseSplitterFilter::SourceFileName(IAsyncReader* reader) {
    if (reader) {
        if (ComPtr<IPin> pin = ComPtr<IAsyncReader>(reader).As<IPin>()) {
            PIN_INFO info{};
            if (SUCCEEDED(pin->QueryPinInfo(&info)) && info.pFilter) {
                ComPtr<IBaseFilter> filter = ComPtr<IBaseFilter>::Adopt(info.pFilter);
                if (ComPtr<IFileSourceFilter> file = filter.As<IFileSourceFilter>()) {
                    LPOLESTR name = nullptr;
                    if (SUCCEEDED(file->GetCurFile(&name, nullptr)) && name) {
                        std::wstring out(name);
                        CoTaskMemFree(name);
                        return out;
                    }
                }
            }
        }
    }
    return m_fileName;
}

HRESULT CBaseSplitterFilter::RegisterOutputPin(DWORD id, CBaseSplitterOutputPin* pin) {
    if (!pin) return E_INVALIDARG;
    CAutoLock lk(this);
    {
        std::lock_guard l(pinMapLock_);
        pinMap_[id] = pin;
    }
    outputs_.emplace_back(pin);
    IncrementPinVersion();
    return S_OK;
}

HRESULT CBaseSplitterFilter::RetargetOutputPin(DWORD oldId, DWORD newId, const CMediaType* pmt) {
    CBaseSplitterOutputPin* pin = nullptr;
    {
        std::lock_guard l(pinMapLock_);
        auto it = pinMap_.find(oldId);
        if (it == pinMap_.end()) return E_FAIL;
        pin = it->second;
    }
    if (pmt && pin->IsConnected()) {
        IPin* peer = pin->GetConnected();
        if (!peer || peer->QueryAccept(pmt) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
    }
    {
        std::lock_guard l(pinMapLock_);
        pinMap_.erase(oldId);
        pinMap_[newId] = pin;
    }
    if (pmt) {
        std::lock_guard l(typesLock_);
        pendingTypes_[newId] = std::make_unique<CMediaType>(*pmt);
    }
    return S_OK;
}

CBaseSplitterOutputPin* CBaseSplitterFilter::FindOutputPin(DWORD id) {
    std::lock_guard l(pinMapLock_);
    auto it = pinMap_.find(id);
    return it == pinMap_.end() ? nullptr : it->second;
}

void CBaseSplitterFilter::SleepUnlessCommand(DWORD ms) {
    // The request event is auto-reset: put back what the wait consumed.
    if (GetRequestHandle().Wait(ms)) GetRequestHandle().Set();
}

// -- worker thread

DWORD CBaseSplitterFilter::ThreadProc() {
    if (!StartDemux()) {
        for (;;) {
            DWORD cmd = GetRequest();
            Reply(S_OK);
            if (cmd == kCmdExit) return 0;
        }
    }
    endFlush_.Set();
    flushing_ = false;
    DWORD cmd = DWORD(-1);
    for (;;) {
        priority_ = 0;
        CAMThread::SetThreadPriority(THREAD_PRIORITY_NORMAL);
        m_rtStart = m_rtNewStart.load();
        m_rtStop = m_rtNewStop.load();
        SeekDemux(m_rtStart);
        ++passes_;
        if (cmd != DWORD(-1)) Reply(S_OK);
        endFlush_.Wait();
        activePins_.clear();
        for (auto& pin : outputs_) {
            if (pin->IsConnected()) {
                activePins_.push_back(pin.get());
                pin->DeliverNewSegment(m_rtStart, m_rtStop, rate_);
            }
        }
        do {
            discontinuitySent_.clear();
        } while (!DemuxPackets());
        for (auto* pin : activePins_)
            if (!CheckRequest(nullptr)) pin->EnqueueEndOfStream();
        cmd = GetRequest();
        if (cmd == kCmdExit) {
            activePins_.clear();
            Reply(S_OK);
            return 0;
        }
    }
}

HRESULT CBaseSplitterFilter::RoutePacket(std::unique_ptr<Packet> p) {
    if (!p) return E_POINTER;
    DWORD track = p->track;
    CBaseSplitterOutputPin* pin = FindOutputPin(track);
    if (!pin || !pin->IsConnected() ||
        std::find(activePins_.begin(), activePins_.end(), pin) == activePins_.end())
        return S_FALSE;
    if (p->HasTime()) {
        m_rtCurrent = p->start;
        p->start -= m_rtStart;
        if (p->stop != Packet::kNoTime) p->stop -= m_rtStart;
    }
    {
        std::lock_guard l(typesLock_);
        auto it = pendingTypes_.find(track);
        if (it != pendingTypes_.end()) {
            p->mediaType = std::move(it->second);
            pendingTypes_.erase(it);
        }
    }
    if (!discontinuitySent_.count(track)) p->discontinuity = true;
    HRESULT hr = pin->EnqueuePacket(std::move(p));
    if (hr != S_OK) {
        activePins_.erase(std::find(activePins_.begin(), activePins_.end(), pin));
        if (!activePins_.empty()) hr = S_OK;
    } else {
        discontinuitySent_.insert(track);
    }
    return hr;
}

void CBaseSplitterFilter::SetPriorityOfDeliveryThreads(int priority) {
    for (auto& pin : outputs_)
        pin->SetThreadPriority(priority);
}

bool CBaseSplitterFilter::NeedMoreData() {
    for (auto* pin : activePins_) {
        if (pin->IsSparse()) continue;
        std::size_t count = pin->QueueCount(), bytes = pin->QueueSize();
        if (count < 100 || bytes < 262144) {
            if (priority_ != -1 && (count < 33 || bytes < 87381)) {
                SetPriorityOfDeliveryThreads(THREAD_PRIORITY_BELOW_NORMAL);
                priority_ = -1;
            }
            return true;
        }
    }
    std::size_t count = 0, bytes = 0;
    for (auto* pin : activePins_) {
        count += pin->QueueCount();
        bytes += pin->QueueSize();
    }
    if (priority_ == -1 && (count > 2000 || bytes > 1398101)) {
        SetPriorityOfDeliveryThreads(THREAD_PRIORITY_NORMAL);
        priority_ = 0;
    }
    return count < 3000 && bytes < 2097152;
}

// -- seeking

HRESULT CBaseSplitterFilter::SetPositionsFrom(void* caller, LONGLONG* pCurrent, DWORD curFlags,
                                              LONGLONG* pStop, DWORD stopFlags) {
    CAutoLock lk(this);
    if (!pCurrent && !pStop) return S_OK;
    DWORD curPos = curFlags & AM_SEEKING_PositioningBitsMask;
    DWORD stopPos = stopFlags & AM_SEEKING_PositioningBitsMask;
    if (!curPos && !stopPos) return S_OK;

    REFERENCE_TIME cur = m_rtCurrent, stop = m_rtStop;
    if (pCurrent && curPos)
        cur = curPos == AM_SEEKING_AbsolutePositioning ? *pCurrent : m_rtCurrent + *pCurrent;
    if (pStop && stopPos) {
        if (stopPos == AM_SEEKING_AbsolutePositioning)
            stop = *pStop;
        else if (stopPos == AM_SEEKING_RelativePositioning)
            stop = m_rtStop + *pStop;
        else
            stop = cur + *pStop;
    }
    if (cur == m_rtCurrent && stop == m_rtStop) return S_OK;

    if (cur != lastSeekStart_ || stop != lastSeekStop_ || lastSeekers_.count(caller)) {
        lastSeekStart_ = cur;
        lastSeekStop_ = stop;
        lastSeekers_ = {caller};
        m_rtCurrent = cur;
        m_rtNewStart = cur;
        m_rtNewStop = stop;
        if (ThreadExists()) {
            BeginFlushOutputs();
            CallWorker(kCmdSeek);
            EndFlushOutputs();
            endFlush_.Set();
        }
    } else {
        lastSeekers_.insert(caller);
    }
    return S_OK;
}

HRESULT CBaseSplitterFilter::GetCapabilities(DWORD* p) {
    if (!p) return E_POINTER;
    *p = kSeekingCaps;
    return S_OK;
}

HRESULT CBaseSplitterFilter::CheckCapabilities(DWORD* p) {
    if (!p) return E_POINTER;
    DWORD asked = *p;
    *p &= kSeekingCaps;
    if (*p == asked) return S_OK;
    return *p ? S_FALSE : E_FAIL;
}

HRESULT CBaseSplitterFilter::IsFormatSupported(const GUID* f) {
    if (!f) return E_POINTER;
    return *f == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

HRESULT CBaseSplitterFilter::QueryPreferredFormat(GUID* f) {
    return GetTimeFormat(f);
}

HRESULT CBaseSplitterFilter::GetTimeFormat(GUID* f) {
    if (!f) return E_POINTER;
    *f = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}

HRESULT CBaseSplitterFilter::IsUsingTimeFormat(const GUID* f) {
    return IsFormatSupported(f);
}

HRESULT CBaseSplitterFilter::SetTimeFormat(const GUID* f) {
    return S_OK == IsFormatSupported(f) ? S_OK : E_INVALIDARG;
}

HRESULT CBaseSplitterFilter::GetDuration(LONGLONG* p) {
    if (!p) return E_POINTER;
    *p = m_rtDuration;
    return S_OK;
}

HRESULT CBaseSplitterFilter::GetStopPosition(LONGLONG* p) {
    return GetDuration(p);
}

HRESULT CBaseSplitterFilter::GetCurrentPosition(LONGLONG* p) {
    if (!p) return E_POINTER;
    *p = m_rtCurrent;
    DebugTrace("curpos:%lld\n", static_cast<long long>(*p));
    return S_OK;
}

HRESULT CBaseSplitterFilter::ConvertTimeFormat(LONGLONG*, const GUID*, LONGLONG, const GUID*) {
    return E_NOTIMPL;
}

HRESULT CBaseSplitterFilter::SetPositions(LONGLONG* cur, DWORD curFlags, LONGLONG* stop,
                                          DWORD stopFlags) {
    return SetPositionsFrom(this, cur, curFlags, stop, stopFlags);
}

HRESULT CBaseSplitterFilter::GetPositions(LONGLONG* cur, LONGLONG* stop) {
    if (cur) *cur = m_rtCurrent;
    if (stop) *stop = m_rtStop;
    return S_OK;
}

HRESULT CBaseSplitterFilter::GetAvailable(LONGLONG* earliest, LONGLONG* latest) {
    if (earliest) *earliest = 0;
    if (latest) *latest = m_rtDuration;
    return S_OK;
}

HRESULT CBaseSplitterFilter::SetRate(double r) {
    if (!(r > 0)) return E_INVALIDARG;
    rate_ = r;
    return S_OK;
}

HRESULT CBaseSplitterFilter::GetRate(double* r) {
    if (!r) return E_POINTER;
    *r = rate_;
    return S_OK;
}

HRESULT CBaseSplitterFilter::GetPreroll(LONGLONG* p) {
    if (!p) return E_POINTER;
    *p = 0;
    return S_OK;
}

HRESULT CBaseSplitterFilter::GetKeyFrameCount(UINT&) {
    return E_NOTIMPL;
}
HRESULT CBaseSplitterFilter::GetKeyFrames(const GUID*, REFERENCE_TIME*, UINT&) {
    return E_NOTIMPL;
}

int CBaseSplitterFilter::GetCount() {
    CAutoLock lk(this);
    return int(outputs_.size());
}

HRESULT CBaseSplitterFilter::GetStatus(int i, int& samples, int& size) {
    CAutoLock lk(this);
    if (i < 0 || i >= int(outputs_.size())) return E_INVALIDARG;
    CBaseSplitterOutputPin* pin = outputs_[size_t(i)].get();
    samples = int(pin->QueueCount());
    size = int(std::min<std::size_t>(pin->QueueSize(), INT32_MAX));
    return pin->IsConnected() ? S_OK : S_FALSE;
}

DWORD CBaseSplitterFilter::GetPriority() {
    return DWORD(priority_.load());
}
