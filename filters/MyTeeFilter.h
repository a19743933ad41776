// CMyTeeFilter: one YV12 video input, two outputs ("Output0", "Output1").
// Every input sample goes to each connected output by reference (never
// copied); each output delivers through its own queue and thread, so a slow
// branch does not hold the other back. The upstream buffer returns to its
// allocator once both branches have released it.
//
// The filter object is its own lock (the filter lock shared with its pins).
// Threads: connection and state changes on the application thread; Receive
// and end of stream on the upstream streaming thread; flushes on the seeking
// thread; each output's queue thread calls its downstream pin.
#pragma once

#include "platform/dshow/BaseFilter.h"
#include "platform/dshow/MediaType.h"

class CMyTeeInputPin;
class CMyTeeOutputPin;

constexpr CLSID CLSID_MyTeeFilter = MakeGuid("116A8145-0946-11CF-ACB1-444553540000");

class CMyTeeFilter : public CCritSec, public CBaseFilter {
public:
    static constexpr int kOutputs = 2;

    // Classic factory: a new filter with a reference count of 0; null and
    // *phr = E_OUTOFMEMORY on failure.
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);
    // A new filter with one reference held by *ppFilter. E_POINTER, E_OUTOFMEMORY.
    static HRESULT Create(IBaseFilter** ppFilter);

    CMyTeeFilter(IUnknown* outer, HRESULT* phr);
    ~CMyTeeFilter() override;

    // 0 "Input", 1 "Output0", 2 "Output1"; null outside 0..2.
    int GetPinCount() override { return 1 + kOutputs; }
    CBasePin* GetPin(int n) override;

    CMyTeeInputPin* Input() const { return m_pInput; }
    CMyTeeOutputPin* Output(int i) const { return i >= 0 && i < kOutputs ? m_pOutput[i] : nullptr; }

    // The type the input was connected with (a copy; empty before that).
    CMediaType InputType();
    void SetInputType(const CMediaType& mt);

private:
    CMyTeeInputPin* m_pInput = nullptr;
    CMyTeeOutputPin* m_pOutput[kOutputs] = {};
    // -- protected by the filter lock
    CMediaType m_mt;
};
