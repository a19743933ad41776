#include "platform/dshow/FilterGraph.h"

#include <algorithm>
#include <chrono>
#include <cwchar>
#include <functional>
#include <map>
#include <new>

#include "platform/dshow/ComponentRegistry.h"
#include "platform/dshow/MediaType.h"
#include "platform/dshow/SystemClock.h"
#include "platform/win/DebugTrace.h"

namespace {

constexpr int kMaxDepth = 5;

// Pins of a filter, optionally only one direction; references held.
std::vector<ComPtr<IPin>> PinsOf(IBaseFilter* f) {
    std::vector<ComPtr<IPin>> pins;
    ComPtr<IEnumPins> e;
    if (FAILED(f->EnumPins(&e)) || !e) return pins;
    IPin* p = nullptr;
    ULONG got = 0;
    while (e->Next(1, &p, &got) == S_OK && got == 1) {
        pins.push_back(ComPtr<IPin>::Adopt(p));
        p = nullptr;
    }
    return pins;
}

PIN_DIRECTION DirectionOf(IPin* p) {
    PIN_DIRECTION d = PINDIR_INPUT;
    p->QueryDirection(&d);
    return d;
}

bool IsConnected(IPin* p) {
    ComPtr<IPin> peer;
    return SUCCEEDED(p->ConnectedTo(&peer)) && peer;
}

ComPtr<IBaseFilter> FilterOf(IPin* p) {
    PIN_INFO info{};
    if (FAILED(p->QueryPinInfo(&info))) return nullptr;
    return ComPtr<IBaseFilter>::Adopt(info.pFilter);
}

// The (major, sub) pairs an output pin offers.
std::vector<std::pair<GUID, GUID>> OfferedTypes(IPin* out) {
    std::vector<std::pair<GUID, GUID>> types;
    ComPtr<IEnumMediaTypes> e;
    if (FAILED(out->EnumMediaTypes(&e)) || !e) return types;
    AM_MEDIA_TYPE* mt = nullptr;
    ULONG got = 0;
    while (e->Next(1, &mt, &got) == S_OK && got == 1) {
        types.emplace_back(mt->majortype, mt->subtype);
        DeleteMediaType(mt);
    }
    return types;
}

class CEnumFilters : public CUnknown, public IEnumFilters {
public:
    CEnumFilters(std::vector<ComPtr<IBaseFilter>> list, size_t pos)
        : CUnknown("CEnumFilters", nullptr), list_(std::move(list)), pos_(pos) {}
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IEnumFilters) return ::GetInterface(static_cast<IEnumFilters*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }
    HRESULT Next(ULONG c, IBaseFilter** pp, ULONG* fetched) override {
        if (!pp) return E_POINTER;
        ULONG n = 0;
        while (n < c && pos_ < list_.size()) {
            pp[n] = list_[pos_++].Get();
            pp[n]->AddRef();
            ++n;
        }
        if (fetched) *fetched = n;
        return n == c ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG c) override {
        pos_ += c;
        if (pos_ > list_.size()) {
            pos_ = list_.size();
            return S_FALSE;
        }
        return S_OK;
    }
    HRESULT Reset() override {
        pos_ = 0;
        return S_OK;
    }
    HRESULT Clone(IEnumFilters** pp) override {
        if (!pp) return E_POINTER;
        auto* e = new (std::nothrow) CEnumFilters(list_, pos_);
        if (!e) return E_OUTOFMEMORY;
        return ::GetInterface(static_cast<IEnumFilters*>(e), reinterpret_cast<void**>(pp));
    }

private:
    std::vector<ComPtr<IBaseFilter>> list_;
    size_t pos_;
};

} // namespace

FilterGraph::FilterGraph(IUnknown* outer, HRESULT* phr) : CUnknown("FilterGraph", outer, phr) {}

FilterGraph::~FilterGraph() {
    events_.SetNotifyWindow(nullptr, 0, 0);
    CAutoLock lock(&lock_);
    StopLocked();
    // Tear down: disconnect every pin, leave the graph, release.
    for (Entry& e : filters_)
        for (auto& pin : PinsOf(e.filter)) pin->Disconnect();
    for (Entry& e : filters_) {
        e.filter->JoinFilterGraph(nullptr, nullptr);
        e.filter->Release();
    }
    filters_.clear();
    if (clock_) clock_->Release();
}

HRESULT FilterGraph::Create(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    auto* g = new (std::nothrow) FilterGraph(nullptr, nullptr);
    if (!g) return E_OUTOFMEMORY;
    g->NonDelegatingAddRef();
    HRESULT hr = g->NonDelegatingQueryInterface(riid, ppv);
    g->NonDelegatingRelease();
    return hr;
}

HRESULT FilterGraph::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IGraphBuilder) return ::GetInterface(static_cast<IGraphBuilder*>(this), ppv);
    if (riid == IID_IFilterGraph) return ::GetInterface(static_cast<IFilterGraph*>(this), ppv);
    if (riid == IID_IMediaControl || riid == IID_IDispatch)
        return ::GetInterface(static_cast<IMediaControl*>(this), ppv);
    if (riid == IID_IMediaEventEx || riid == IID_IMediaEvent)
        return ::GetInterface(static_cast<IMediaEventEx*>(this), ppv);
    if (riid == IID_IMediaSeeking) return ::GetInterface(static_cast<IMediaSeeking*>(this), ppv);
    if (riid == IID_IMediaEventSink) return ::GetInterface(static_cast<IMediaEventSink*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

// ---------------------------------------------------------------- filters

bool FilterGraph::Contains(IBaseFilter* f) const {
    for (const Entry& e : filters_)
        if (e.filter == f) return true;
    return false;
}

std::wstring FilterGraph::UniqueName(LPCWSTR name) const {
    std::wstring base = name && *name ? name : L"Filter";
    auto taken = [&](const std::wstring& n) {
        for (const Entry& e : filters_)
            if (e.name == n) return true;
        return false;
    };
    if (!taken(base)) return base;
    for (int i = 1;; ++i) {
        wchar_t suffix[16];
        std::swprintf(suffix, 16, L" %04d", i);
        std::wstring n = base + suffix;
        if (!taken(n)) return n;
    }
}

HRESULT FilterGraph::AddFilter(IBaseFilter* f, LPCWSTR name) {
    if (!f) return E_POINTER;
    CAutoLock lock(&lock_);
    if (Contains(f)) return VFW_E_DUPLICATE_NAME;
    std::wstring unique = UniqueName(name);
    bool renamed = name && *name && unique != name;
    HRESULT hr = f->JoinFilterGraph(Self(), unique.c_str());
    if (FAILED(hr)) return hr;
    f->AddRef();
    filters_.push_back(Entry{f, unique});
    if (clock_) f->SetSyncSource(clock_);
    return renamed ? VFW_S_DUPLICATE_NAME : S_OK;
}

HRESULT FilterGraph::RemoveFilter(IBaseFilter* f) {
    if (!f) return E_POINTER;
    CAutoLock lock(&lock_);
    auto it = std::find_if(filters_.begin(), filters_.end(),
                           [&](const Entry& e) { return e.filter == f; });
    if (it == filters_.end()) return VFW_E_NOT_FOUND;
    if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
    for (auto& pin : PinsOf(f)) {
        ComPtr<IPin> peer;
        if (SUCCEEDED(pin->ConnectedTo(&peer)) && peer) peer->Disconnect();
        pin->Disconnect();
    }
    Entry e = *it;
    filters_.erase(it);
    e.filter->SetSyncSource(nullptr);
    e.filter->JoinFilterGraph(nullptr, nullptr);
    e.filter->Release();
    return S_OK;
}

HRESULT FilterGraph::EnumFilters(IEnumFilters** pp) {
    if (!pp) return E_POINTER;
    CAutoLock lock(&lock_);
    std::vector<ComPtr<IBaseFilter>> list;
    for (const Entry& e : filters_) list.emplace_back(e.filter);
    auto* en = new (std::nothrow) CEnumFilters(std::move(list), 0);
    if (!en) return E_OUTOFMEMORY;
    return ::GetInterface(static_cast<IEnumFilters*>(en), reinterpret_cast<void**>(pp));
}

HRESULT FilterGraph::FindFilterByName(LPCWSTR name, IBaseFilter** pp) {
    if (!pp || !name) return E_POINTER;
    CAutoLock lock(&lock_);
    for (const Entry& e : filters_)
        if (e.name == name) {
            *pp = e.filter;
            e.filter->AddRef();
            return S_OK;
        }
    *pp = nullptr;
    return VFW_E_NOT_FOUND;
}

size_t FilterGraph::FilterCount() {
    CAutoLock lock(&lock_);
    return filters_.size();
}

// ---------------------------------------------------------------- connections

HRESULT FilterGraph::ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* pmt) {
    if (!out || !in) return E_POINTER;
    CAutoLock lock(&lock_);
    if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
    ComPtr<IBaseFilter> fo = FilterOf(out), fi = FilterOf(in);
    if (!fo || !fi || !Contains(fo.Get()) || !Contains(fi.Get())) return VFW_E_NOT_IN_GRAPH;
    if (DirectionOf(out) != PINDIR_OUTPUT || DirectionOf(in) != PINDIR_INPUT)
        return VFW_E_INVALID_DIRECTION;
    return out->Connect(in, pmt);
}

HRESULT FilterGraph::Reconnect(IPin* pin) {
    if (!pin) return E_POINTER;
    CAutoLock lock(&lock_);
    ComPtr<IPin> peer;
    if (FAILED(pin->ConnectedTo(&peer)) || !peer) return VFW_E_NOT_CONNECTED;
    IPin* out = DirectionOf(pin) == PINDIR_OUTPUT ? pin : peer.Get();
    IPin* in = out == pin ? peer.Get() : pin;
    CMediaType mt;
    out->ConnectionMediaType(&mt);
    out->Disconnect();
    in->Disconnect();
    return ConnectDirect(out, in, &mt);
}

HRESULT FilterGraph::Disconnect(IPin* pin) {
    if (!pin) return E_POINTER;
    CAutoLock lock(&lock_);
    return pin->Disconnect();
}

HRESULT FilterGraph::ConnectLogged(IPin* out, IPin* in, Attempt& log) {
    HRESULT hr = out->Connect(in, nullptr);
    if (SUCCEEDED(hr)) log.connections.emplace_back(out, in);
    return hr;
}

void FilterGraph::Rollback(Attempt& log, size_t connMark, size_t addMark) {
    while (log.connections.size() > connMark) {
        auto [out, in] = log.connections.back();
        log.connections.pop_back();
        out->Disconnect();
        in->Disconnect();
    }
    while (log.added.size() > addMark) {
        ComPtr<IBaseFilter> f = log.added.back();
        log.added.pop_back();
        RemoveFilter(f.Get());
    }
}

// Connects out to one free input of f, then f's free outputs onward: to `in`
// when given (Connect), else to renderers (Render).
HRESULT FilterGraph::TryThroughFilter(IBaseFilter* f, IPin* out, IPin* in, int depth,
                                      Attempt& log) {
    size_t connMark = log.connections.size(), addMark = log.added.size();
    for (auto& fin : PinsOf(f)) {
        if (DirectionOf(fin.Get()) != PINDIR_INPUT || IsConnected(fin.Get())) continue;
        if (FAILED(ConnectLogged(out, fin.Get(), log))) continue;
        bool anyOutput = false;
        int rendered = 0, failed = 0;
        for (auto& fout : PinsOf(f)) {
            if (DirectionOf(fout.Get()) != PINDIR_OUTPUT || IsConnected(fout.Get())) continue;
            anyOutput = true;
            if (in) {
                if (SUCCEEDED(ConnectVia(fout.Get(), in, depth + 1, log))) return S_OK;
            } else {
                if (SUCCEEDED(RenderVia(fout.Get(), depth + 1, log))) ++rendered;
                else ++failed;
            }
        }
        if (!in && (!anyOutput || rendered > 0))
            return failed > 0 ? VFW_S_PARTIAL_RENDER : S_OK; // a renderer, or a rendered path
        Rollback(log, connMark, addMark);
    }
    return VFW_E_CANNOT_CONNECT;
}

HRESULT FilterGraph::ConnectVia(IPin* out, IPin* in, int depth, Attempt& log) {
    if (SUCCEEDED(ConnectLogged(out, in, log))) return S_OK;
    if (depth >= kMaxDepth) return VFW_E_CANNOT_CONNECT;
    ComPtr<IBaseFilter> fo = FilterOf(out), fi = FilterOf(in);
    // 1. Filters already in the graph.
    std::vector<ComPtr<IBaseFilter>> present;
    for (const Entry& e : filters_)
        if (e.filter != fo.Get() && e.filter != fi.Get()) present.emplace_back(e.filter);
    for (auto& f : present)
        if (SUCCEEDED(TryThroughFilter(f.Get(), out, in, depth, log))) return S_OK;
    // 2. Registered components, by merit.
    for (const ComponentInfo& c : ComponentRegistry::Instance().Candidates(OfferedTypes(out))) {
        ComPtr<IBaseFilter> f;
        if (FAILED(c.create(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&f))) || !f)
            continue;
        if (FAILED(AddFilter(f.Get(), c.name.c_str()))) continue;
        size_t addMark = log.added.size();
        log.added.push_back(f);
        if (SUCCEEDED(TryThroughFilter(f.Get(), out, in, depth, log))) return S_OK;
        Rollback(log, log.connections.size(), addMark);
    }
    return VFW_E_CANNOT_CONNECT;
}

HRESULT FilterGraph::RenderVia(IPin* out, int depth, Attempt& log) {
    if (depth >= kMaxDepth) return VFW_E_CANNOT_RENDER;
    ComPtr<IBaseFilter> fo = FilterOf(out);
    std::vector<ComPtr<IBaseFilter>> present;
    for (const Entry& e : filters_)
        if (e.filter != fo.Get()) present.emplace_back(e.filter);
    for (auto& f : present) {
        HRESULT hr = TryThroughFilter(f.Get(), out, nullptr, depth, log);
        if (SUCCEEDED(hr)) return hr;
    }
    for (const ComponentInfo& c : ComponentRegistry::Instance().Candidates(OfferedTypes(out))) {
        ComPtr<IBaseFilter> f;
        if (FAILED(c.create(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&f))) || !f)
            continue;
        if (FAILED(AddFilter(f.Get(), c.name.c_str()))) continue;
        size_t addMark = log.added.size();
        log.added.push_back(f);
        HRESULT hr = TryThroughFilter(f.Get(), out, nullptr, depth, log);
        if (SUCCEEDED(hr)) return hr;
        Rollback(log, log.connections.size(), addMark);
    }
    return VFW_E_CANNOT_RENDER;
}

HRESULT FilterGraph::Connect(IPin* out, IPin* in) {
    if (!out || !in) return E_POINTER;
    CAutoLock lock(&lock_);
    if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
    ComPtr<IBaseFilter> fo = FilterOf(out), fi = FilterOf(in);
    if (!fo || !fi || !Contains(fo.Get()) || !Contains(fi.Get())) return VFW_E_NOT_IN_GRAPH;
    if (DirectionOf(out) != PINDIR_OUTPUT || DirectionOf(in) != PINDIR_INPUT)
        return VFW_E_INVALID_DIRECTION;
    if (IsConnected(out) || IsConnected(in)) return VFW_E_ALREADY_CONNECTED;
    Attempt log;
    HRESULT hr = ConnectVia(out, in, 0, log);
    if (FAILED(hr)) Rollback(log, 0, 0);
    return hr;
}

HRESULT FilterGraph::Render(IPin* out) {
    if (!out) return E_POINTER;
    CAutoLock lock(&lock_);
    if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
    if (DirectionOf(out) != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
    if (IsConnected(out)) return VFW_E_ALREADY_CONNECTED;
    Attempt log;
    HRESULT hr = RenderVia(out, 0, log);
    if (FAILED(hr)) Rollback(log, 0, 0);
    return hr;
}

HRESULT FilterGraph::RenderFile(LPCWSTR, LPCWSTR) { return E_NOTIMPL; }
HRESULT FilterGraph::AddSourceFilter(LPCWSTR, LPCWSTR, IBaseFilter** pp) {
    if (pp) *pp = nullptr;
    return E_NOTIMPL;
}
HRESULT FilterGraph::SetLogFile(DWORD_PTR) { return S_OK; }
HRESULT FilterGraph::Abort() { return S_OK; }
HRESULT FilterGraph::ShouldOperationContinue() { return S_OK; }

// ---------------------------------------------------------------- state

std::vector<IBaseFilter*> FilterGraph::DownstreamFirst() const {
    std::vector<IBaseFilter*> order;
    std::set<IBaseFilter*> done;
    std::function<void(IBaseFilter*, int)> visit = [&](IBaseFilter* f, int depth) {
        if (done.count(f) || depth > 64) return;
        done.insert(f);
        for (auto& pin : PinsOf(f)) {
            if (DirectionOf(pin.Get()) != PINDIR_OUTPUT) continue;
            ComPtr<IPin> peer;
            if (FAILED(pin->ConnectedTo(&peer)) || !peer) continue;
            ComPtr<IBaseFilter> down = FilterOf(peer.Get());
            if (down && Contains(down.Get())) visit(down.Get(), depth + 1);
        }
        order.push_back(f);
    };
    for (const Entry& e : filters_) visit(e.filter, 0);
    return order;
}

std::vector<IBaseFilter*> FilterGraph::Renderers() const {
    std::vector<IBaseFilter*> out;
    for (const Entry& e : filters_) {
        bool input = false, output = false;
        for (auto& pin : PinsOf(e.filter)) {
            if (!IsConnected(pin.Get())) continue;
            (DirectionOf(pin.Get()) == PINDIR_INPUT ? input : output) = true;
        }
        if (input && !output) out.push_back(e.filter);
    }
    return out;
}

HRESULT FilterGraph::EnsureClock() {
    if (clockChosen_) return S_OK;
    IReferenceClock* chosen = nullptr;
    for (IBaseFilter* f : DownstreamFirst()) {
        if (SUCCEEDED(f->QueryInterface(IID_IReferenceClock, reinterpret_cast<void**>(&chosen))) &&
            chosen)
            break;
        chosen = nullptr;
    }
    if (!chosen) {
        HRESULT hr = CSystemClock::Create(&chosen);
        if (FAILED(hr)) return hr;
    }
    if (clock_) clock_->Release();
    clock_ = chosen;
    clockChosen_ = true;
    for (const Entry& e : filters_) e.filter->SetSyncSource(clock_);
    return S_OK;
}

HRESULT FilterGraph::SetDefaultSyncSource() {
    CAutoLock lock(&lock_);
    clockChosen_ = false;
    return EnsureClock();
}

HRESULT FilterGraph::SetSyncSource(IReferenceClock* clock) {
    CAutoLock lock(&lock_);
    if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
    if (clock) clock->AddRef();
    if (clock_) clock_->Release();
    clock_ = clock;
    clockChosen_ = true;
    for (const Entry& e : filters_) e.filter->SetSyncSource(clock_);
    return S_OK;
}

HRESULT FilterGraph::GetStreamTime(REFERENCE_TIME* t) {
    if (!t) return E_POINTER;
    CAutoLock lock(&lock_);
    if (!clock_) return VFW_E_NO_CLOCK;
    if (state_ == State_Running) {
        REFERENCE_TIME now = 0;
        clock_->GetTime(&now);
        *t = now - tStart_;
    } else {
        *t = state_ == State_Paused ? pausedAt_ : 0;
    }
    return S_OK;
}

void FilterGraph::ResetCompletion(bool noteRenderers) {
    if (noteRenderers)
        events_.SetRenderers(Renderers());
    else
        events_.ResetCompletion();
}

HRESULT FilterGraph::PauseLocked() {
    if (state_ == State_Paused) return S_OK;
    HRESULT hr = EnsureClock();
    if (FAILED(hr)) return hr;
    if (state_ == State_Stopped) {
        ResetCompletion(true);
        pausedAt_ = 0;
    } else {
        REFERENCE_TIME now = 0;
        if (clock_) clock_->GetTime(&now); // no clock (SetSyncSource(null)): stream time stays 0
        pausedAt_ = now - tStart_;
    }
    HRESULT result = S_OK;
    for (IBaseFilter* f : DownstreamFirst()) {
        hr = f->Pause();
        if (FAILED(hr)) {
            DebugTrace("FilterGraph: Pause failed 0x%08X\n", unsigned(hr));
            StopLocked();
            return hr;
        }
        if (hr == S_FALSE) result = S_FALSE;
    }
    state_ = State_Paused;
    return result;
}

HRESULT FilterGraph::RunLocked() {
    if (state_ == State_Running) return S_OK;
    if (state_ == State_Stopped) {
        HRESULT hr = PauseLocked();
        if (FAILED(hr)) return hr;
    }
    REFERENCE_TIME now = 0;
    if (clock_) clock_->GetTime(&now); // no clock (SetSyncSource(null)): stream time stays 0
    tStart_ = now - pausedAt_;
    for (IBaseFilter* f : DownstreamFirst()) {
        HRESULT hr = f->Run(tStart_);
        if (FAILED(hr)) {
            DebugTrace("FilterGraph: Run failed 0x%08X\n", unsigned(hr));
            StopLocked();
            return hr;
        }
    }
    state_ = State_Running;
    return S_OK;
}

HRESULT FilterGraph::StopLocked() {
    HRESULT result = S_OK;
    if (state_ != State_Stopped)
        for (IBaseFilter* f : DownstreamFirst()) {
            HRESULT hr = f->Stop();
            if (FAILED(hr) && SUCCEEDED(result)) result = hr;
        }
    state_ = State_Stopped;
    pausedAt_ = 0;
    ResetCompletion(false);
    return result;
}

HRESULT FilterGraph::Run() {
    CAutoLock lock(&lock_);
    return RunLocked();
}

HRESULT FilterGraph::Pause() {
    CAutoLock lock(&lock_);
    return PauseLocked();
}

HRESULT FilterGraph::Stop() {
    CAutoLock lock(&lock_);
    return StopLocked();
}

HRESULT FilterGraph::GetState(LONG msTimeout, OAFilterState* pfs) {
    if (!pfs) return E_POINTER;
    CAutoLock lock(&lock_);
    HRESULT result = S_OK;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(msTimeout);
    for (const Entry& e : filters_) {
        FILTER_STATE fs;
        DWORD left = 0;
        if (msTimeout < 0) left = INFINITE;
        else {
            auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
            left = ms > 0 ? DWORD(ms) : 0;
        }
        HRESULT hr = e.filter->GetState(left, &fs);
        if (hr == VFW_S_STATE_INTERMEDIATE || hr == VFW_S_CANT_CUE) result = hr;
        else if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    }
    *pfs = state_;
    return result;
}

HRESULT FilterGraph::RenderFile(BSTR) { return E_NOTIMPL; }
HRESULT FilterGraph::AddSourceFilter(BSTR, IDispatch** pp) {
    if (pp) *pp = nullptr;
    return E_NOTIMPL;
}
HRESULT FilterGraph::get_FilterCollection(IDispatch**) { return E_NOTIMPL; }
HRESULT FilterGraph::get_RegFilterCollection(IDispatch**) { return E_NOTIMPL; }
HRESULT FilterGraph::StopWhenReady() {
    CAutoLock lock(&lock_);
    PauseLocked();
    return StopLocked();
}

HRESULT FilterGraph::GetTypeInfoCount(UINT* p) {
    if (p) *p = 0;
    return E_NOTIMPL;
}
HRESULT FilterGraph::GetTypeInfo(UINT, LCID, void**) { return E_NOTIMPL; }
HRESULT FilterGraph::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, LONG*) { return E_NOTIMPL; }
HRESULT FilterGraph::Invoke(LONG, REFIID, LCID, WORD, void*, void*, void*, UINT*) {
    return E_NOTIMPL;
}

// ---------------------------------------------------------------- events

HRESULT FilterGraph::Notify(LONG code, LONG_PTR p1, LONG_PTR p2) {
    events_.Add(code, p1, p2);
    return S_OK;
}

HRESULT FilterGraph::GetEventHandle(OAEVENT* h) {
    if (!h) return E_POINTER;
    *h = reinterpret_cast<OAEVENT>(events_.Handle());
    return S_OK;
}

HRESULT FilterGraph::GetEvent(LONG* code, LONG_PTR* p1, LONG_PTR* p2, LONG msTimeout) {
    if (!code || !p1 || !p2) return E_POINTER;
    return events_.Get(code, p1, p2, msTimeout);
}

HRESULT FilterGraph::WaitForCompletion(LONG msTimeout, LONG* pEvCode) {
    if (!pEvCode) return E_POINTER;
    return events_.WaitForCompletion(msTimeout, pEvCode);
}

HRESULT FilterGraph::CancelDefaultHandling(LONG code) {
    events_.Cancel(code);
    return S_OK;
}

HRESULT FilterGraph::RestoreDefaultHandling(LONG code) {
    events_.Restore(code);
    return S_OK;
}

HRESULT FilterGraph::FreeEventParams(LONG, LONG_PTR, LONG_PTR) { return S_OK; }

HRESULT FilterGraph::SetNotifyWindow(OAHWND hwnd, LONG msg, LONG_PTR param) {
    events_.SetNotifyWindow(hwnd, msg, param);
    return S_OK;
}

HRESULT FilterGraph::SetNotifyFlags(LONG flags) {
    events_.SetNotifyFlags(flags);
    return S_OK;
}

HRESULT FilterGraph::GetNotifyFlags(LONG* flags) {
    if (!flags) return E_POINTER;
    *flags = events_.NotifyFlags();
    return S_OK;
}

// ---------------------------------------------------------------- seeking

std::vector<ComPtr<IMediaSeeking>> FilterGraph::Seekers() const {
    std::vector<ComPtr<IMediaSeeking>> out;
    std::set<IUnknown*> identities;
    auto works = [](IMediaSeeking* s) {
        DWORD caps = 0;
        return SUCCEEDED(s->GetCapabilities(&caps));
    };
    auto add = [&](ComPtr<IMediaSeeking> s) {
        ComPtr<IUnknown> id = s.As<IUnknown>();
        if (identities.insert(id.Get()).second) out.push_back(s);
    };
    for (IBaseFilter* r : Renderers()) {
        ComPtr<IMediaSeeking> own;
        if (SUCCEEDED(r->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&own))) && own &&
            works(own.Get())) {
            add(own);
            continue;
        }
        // The renderer cannot seek (or its upstream neighbour cannot): walk
        // upstream to the nearest output pins that can.
        std::vector<ComPtr<IBaseFilter>> todo{ComPtr<IBaseFilter>(r)};
        std::set<IBaseFilter*> seen{r};
        while (!todo.empty()) {
            ComPtr<IBaseFilter> f = todo.back();
            todo.pop_back();
            for (auto& pin : PinsOf(f.Get())) {
                if (DirectionOf(pin.Get()) != PINDIR_INPUT) continue;
                ComPtr<IPin> peer;
                if (FAILED(pin->ConnectedTo(&peer)) || !peer) continue;
                ComPtr<IMediaSeeking> ps;
                if (SUCCEEDED(peer->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&ps))) &&
                    ps && works(ps.Get())) {
                    add(ps);
                    continue;
                }
                ComPtr<IBaseFilter> up = FilterOf(peer.Get());
                if (up && seen.insert(up.Get()).second) todo.push_back(up);
            }
        }
    }
    return out;
}

#define FIRST_SEEKER(call)                                                                         \
    CAutoLock lock(&lock_);                                                                        \
    HRESULT result = E_NOTIMPL;                                                                    \
    for (auto& seeker_ : Seekers()) {                                                              \
        result = seeker_->call;                                                                    \
        if (SUCCEEDED(result)) return result;                                                      \
    }                                                                                              \
    return result

HRESULT FilterGraph::GetCapabilities(DWORD* caps) {
    if (!caps) return E_POINTER;
    CAutoLock lock(&lock_);
    auto seekers = Seekers();
    if (seekers.empty()) {
        *caps = 0;
        return E_NOTIMPL;
    }
    DWORD all = ~DWORD(0);
    for (auto& s : seekers) {
        DWORD c = 0;
        if (SUCCEEDED(s->GetCapabilities(&c))) all &= c;
        else all = 0;
    }
    *caps = all;
    return S_OK;
}

HRESULT FilterGraph::CheckCapabilities(DWORD* caps) {
    if (!caps) return E_POINTER;
    DWORD have = 0;
    HRESULT hr = GetCapabilities(&have);
    if (FAILED(hr)) return hr;
    DWORD want = *caps;
    *caps &= have;
    return *caps == want ? S_OK : (*caps ? S_FALSE : E_FAIL);
}

HRESULT FilterGraph::IsFormatSupported(const GUID* f) {
    if (!f) return E_POINTER;
    return *f == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}
HRESULT FilterGraph::QueryPreferredFormat(GUID* f) {
    if (!f) return E_POINTER;
    *f = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}
HRESULT FilterGraph::GetTimeFormat(GUID* f) {
    if (!f) return E_POINTER;
    *f = timeFormat_;
    return S_OK;
}
HRESULT FilterGraph::IsUsingTimeFormat(const GUID* f) {
    if (!f) return E_POINTER;
    return *f == timeFormat_ ? S_OK : S_FALSE;
}
HRESULT FilterGraph::SetTimeFormat(const GUID* f) {
    if (!f) return E_POINTER;
    if (!(*f == TIME_FORMAT_MEDIA_TIME)) return E_INVALIDARG;
    return S_OK;
}

HRESULT FilterGraph::GetDuration(LONGLONG* d) {
    if (!d) return E_POINTER;
    CAutoLock lock(&lock_);
    HRESULT result = E_NOTIMPL;
    LONGLONG longest = 0;
    for (auto& s : Seekers()) {
        LONGLONG v = 0;
        HRESULT hr = s->GetDuration(&v);
        if (SUCCEEDED(hr)) {
            result = S_OK;
            longest = std::max(longest, v);
        } else if (result != S_OK) {
            result = hr;
        }
    }
    *d = longest;
    return result;
}

HRESULT FilterGraph::GetStopPosition(LONGLONG* p) {
    if (!p) return E_POINTER;
    FIRST_SEEKER(GetStopPosition(p));
}
HRESULT FilterGraph::GetCurrentPosition(LONGLONG* p) {
    if (!p) return E_POINTER;
    FIRST_SEEKER(GetCurrentPosition(p));
}
HRESULT FilterGraph::ConvertTimeFormat(LONGLONG* target, const GUID* tf, LONGLONG source,
                                       const GUID* sf) {
    if (!target) return E_POINTER;
    const GUID& t = tf ? *tf : timeFormat_;
    const GUID& s = sf ? *sf : timeFormat_;
    if (!(t == TIME_FORMAT_MEDIA_TIME) || !(s == TIME_FORMAT_MEDIA_TIME)) return E_INVALIDARG;
    *target = source;
    return S_OK;
}
HRESULT FilterGraph::GetPositions(LONGLONG* c, LONGLONG* s) { FIRST_SEEKER(GetPositions(c, s)); }
HRESULT FilterGraph::GetAvailable(LONGLONG* e, LONGLONG* l) { FIRST_SEEKER(GetAvailable(e, l)); }
HRESULT FilterGraph::GetRate(double* r) { FIRST_SEEKER(GetRate(r)); }
HRESULT FilterGraph::GetPreroll(LONGLONG* p) { FIRST_SEEKER(GetPreroll(p)); }

HRESULT FilterGraph::SetRate(double r) {
    CAutoLock lock(&lock_);
    HRESULT result = E_NOTIMPL;
    for (auto& s : Seekers()) {
        HRESULT hr = s->SetRate(r);
        if (SUCCEEDED(hr) || result == E_NOTIMPL) result = hr;
    }
    return result;
}

HRESULT FilterGraph::SetPositions(LONGLONG* cur, DWORD curFlags, LONGLONG* stop, DWORD stopFlags) {
    CAutoLock lock(&lock_);
    auto seekers = Seekers();
    if (seekers.empty()) return E_NOTIMPL;
    bool wasRunning = state_ == State_Running;
    if (wasRunning) PauseLocked();
    bool moves = cur && (curFlags & AM_SEEKING_PositioningBitsMask);
    // Completion is counted afresh from here: the renderers end again after the
    // seek, possibly before the seek call below returns.
    if (moves) ResetCompletion(false);
    HRESULT result = E_NOTIMPL;
    bool any = false;
    for (auto& s : seekers) {
        HRESULT hr = s->SetPositions(cur, curFlags, stop, stopFlags);
        if (SUCCEEDED(hr)) {
            if (!any) result = hr;
            any = true;
        } else if (!any) {
            result = hr;
        }
    }
    if (any && moves) pausedAt_ = 0; // stream time starts again at 0
    if (wasRunning) RunLocked();
    return result;
}
