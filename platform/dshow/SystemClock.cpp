#include "platform/dshow/SystemClock.h"

#include <chrono>
#include <new>

#include "platform/dshow/AMEvent.h"

CSystemClock::CSystemClock(const char* name, IUnknown* outer, HRESULT* phr)
    : CUnknown(name, outer, phr) {}

CSystemClock::~CSystemClock() {
    {
        std::lock_guard lk(mutex_);
        terminate_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable()) thread_.join();
}

HRESULT CSystemClock::Create(IReferenceClock** pp) {
    if (!pp) return E_POINTER;
    auto* c = new (std::nothrow) CSystemClock("CSystemClock", nullptr, nullptr);
    if (!c) return E_OUTOFMEMORY;
    c->NonDelegatingAddRef();
    *pp = c;
    return S_OK;
}

HRESULT CSystemClock::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IReferenceClock) return ::GetInterface(static_cast<IReferenceClock*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

REFERENCE_TIME CSystemClock::Now() {
    using namespace std::chrono;
    return duration_cast<duration<std::int64_t, std::ratio<1, 10000000>>>(
               steady_clock::now().time_since_epoch())
        .count();
}

HRESULT CSystemClock::GetTime(REFERENCE_TIME* t) {
    if (!t) return E_POINTER;
    *t = Now();
    return S_OK;
}

HRESULT CSystemClock::AddAdvise(Advise a, DWORD_PTR* cookie) {
    if (!a.event || !cookie) return E_POINTER;
    std::lock_guard lk(mutex_);
    if (!thread_.joinable()) {
        try {
            thread_ = std::thread([this] { ThreadProc(); });
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }
    *cookie = nextCookie_++;
    advises_[*cookie] = a;
    cv_.notify_all();
    return S_OK;
}

HRESULT CSystemClock::AdviseTime(REFERENCE_TIME base, REFERENCE_TIME stream, HEVENT ev,
                                 DWORD_PTR* cookie) {
    if (base + stream <= 0) return E_INVALIDARG;
    return AddAdvise(Advise{base + stream, 0, ev}, cookie);
}

HRESULT CSystemClock::AdvisePeriodic(REFERENCE_TIME start, REFERENCE_TIME period, HSEMAPHORE ev,
                                     DWORD_PTR* cookie) {
    if (start <= 0 || period <= 0) return E_INVALIDARG;
    return AddAdvise(Advise{start, period, ev}, cookie);
}

HRESULT CSystemClock::Unadvise(DWORD_PTR cookie) {
    std::lock_guard lk(mutex_);
    return advises_.erase(cookie) ? S_OK : S_FALSE;
}

void CSystemClock::ThreadProc() {
    std::unique_lock lk(mutex_);
    while (!terminate_) {
        REFERENCE_TIME now = Now();
        REFERENCE_TIME next = MAX_TIME;
        for (auto it = advises_.begin(); it != advises_.end();) {
            Advise& a = it->second;
            if (a.due <= now) {
                a.event->Set();
                if (a.period == 0) {
                    it = advises_.erase(it);
                    continue;
                }
                while (a.due <= now) a.due += a.period;
            }
            if (a.due < next) next = a.due;
            ++it;
        }
        if (next == MAX_TIME)
            cv_.wait(lk);
        else
            cv_.wait_for(lk, std::chrono::microseconds((next - now + 9) / 10));
    }
}
