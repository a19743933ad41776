// CConvInputPin: the common part of the sink's two inputs. Accepts every
// type offered (keeping a copy of the last one), hands samples to the filter
// and keeps its end-of-stream flag, which is never cleared.
//
// Threads: Receive and EndOfStream on the upstream streaming thread; the
// flag is read under the filter lock.
#pragma once

#include <atomic>

#include "platform/dshow/BaseInputPin.h"

class CConvFilter;

class CConvInputPin : public CBaseInputPin {
public:
    CConvInputPin(const char* objectName, CConvFilter* filter, HRESULT* phr, LPCWSTR name);

    HRESULT CheckMediaType(const CMediaType* pmt) override;
    // Sets the flag under the filter lock, then runs the filter's check.
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override { return CBaseInputPin::BeginFlush(); }
    HRESULT EndFlush() override { return CBaseInputPin::EndFlush(); }

    bool Ended() const { return m_ended; }
    // The last type proposed (a copy).
    CMediaType OfferedType();

protected:
    CConvFilter* m_pConv;
    std::atomic<bool> m_ended{false};
    CCritSec m_typeLock;
    CMediaType m_offered; // -- protected by m_typeLock
};
