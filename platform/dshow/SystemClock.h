// CSystemClock: the graph's reference clock over the monotonic system clock, in
// 100-ns units. Advise requests are served by one timer thread, started on the
// first request and joined by the destructor. Any thread.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "platform/dshow/Interfaces.h"
#include "platform/dshow/Unknown.h"

class CSystemClock : public CUnknown, public IReferenceClock {
public:
    CSystemClock(const char* name, IUnknown* outer, HRESULT* phr);
    ~CSystemClock() override;
    // A new clock with one reference.
    static HRESULT Create(IReferenceClock** ppClock);

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    HRESULT GetTime(REFERENCE_TIME* pTime) override;
    // Sets hEvent when the clock reaches baseTime + streamTime.
    HRESULT AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT hEvent,
                       DWORD_PTR* pdwAdviseCookie) override;
    // Sets hSemaphore at startTime and every periodTime after it.
    HRESULT AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime,
                           HSEMAPHORE hSemaphore, DWORD_PTR* pdwAdviseCookie) override;
    HRESULT Unadvise(DWORD_PTR dwAdviseCookie) override;

    // The system clock now, 100-ns units (for code without a clock object).
    static REFERENCE_TIME Now();

private:
    struct Advise {
        REFERENCE_TIME due;
        REFERENCE_TIME period; // 0 = once
        CAMEvent* event;
    };
    HRESULT AddAdvise(Advise a, DWORD_PTR* cookie);
    void ThreadProc();

    std::mutex mutex_;
    std::condition_variable cv_;
    std::map<DWORD_PTR, Advise> advises_;
    DWORD_PTR nextCookie_ = 1;
    bool terminate_ = false;
    std::thread thread_;
};
