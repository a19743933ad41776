// CBaseSplitterInputPin: the splitter's input pin "Input". It pulls bytes from
// the upstream pin's IAsyncReader; connecting it makes the filter build its
// parser and output pins, disconnecting removes them.
//
// Threads: connection calls on the application thread under the filter lock.
#pragma once

#include "platform/com/ComPtr.h"
#include "platform/dshow/BasePin.h"

class CBaseSplitterFilter;

class CBaseSplitterInputPin : public CBasePin {
public:
    CBaseSplitterInputPin(CBaseSplitterFilter* filter, CCritSec* lock, HRESULT* phr);
    ~CBaseSplitterInputPin() override;

    // The connected source's reader (no reference added), or null.
    IAsyncReader* GetAsyncReader() const { return reader_.Get(); }

    // Any type is accepted.
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    // The peer must offer IAsyncReader (E_NOINTERFACE otherwise).
    HRESULT CheckConnect(IPin* pPin) override;
    // Keeps the reader, then rebuilds the output pins from it; failures refuse
    // the connection.
    HRESULT CompleteConnect(IPin* pReceivePin) override;
    // Removes the output pins and drops the reader.
    HRESULT BreakConnect() override;
    // The input pin of a pull source takes no flushes.
    HRESULT BeginFlush() override { return E_UNEXPECTED; }
    HRESULT EndFlush() override { return E_UNEXPECTED; }

private:
    CBaseSplitterFilter* splitter_;
    ComPtr<IAsyncReader> reader_;
};
