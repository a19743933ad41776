// CAsyncReader: a pull source filter over a CAsyncStream: one output pin
// ("Output") that serves the stream through IAsyncReader, and the request
// queue behind it. The derived filter owns the stream, sets the output media
// type, and stops the queue in its destructor before the stream goes away.
//
// Threads: state changes, connection and SetMediaType on the application
// thread under the filter lock; reads on the consumer's threads.
#pragma once

#include "platform/dshow/BaseFilter.h"
#include "source/AsyncRequestQueue.h"
#include "source/CAsyncOutputPin.h"

class CAsyncReader : public CBaseFilter {
public:
    // stream: the bytes to serve; must outlive the queue (see above).
    CAsyncReader(const char* name, IUnknown* outer, CAsyncStream* stream, REFCLSID clsid,
                 HRESULT* phr);
    ~CAsyncReader() override;

    // One pin: 0 is the output pin, any other index none.
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override;

protected:
    // Replaces the type the output pin offers (a copy is kept).
    HRESULT SetOutputType(const CMediaType& mt);
    // Stops the queue's worker; the derived destructor calls it.
    void StopRequests() { queue_.Stop(); }

private:
    CCritSec csFilter_;
    // -- guarded by csFilter_
    CMediaType mt_;
    AsyncRequestQueue queue_;
    CAsyncOutputPin pin_;
};
