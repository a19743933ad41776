// CDVDReader: the DVD source filter. It serves one title (or one chapter) of
// an opened disc as a plain MPEG program-stream byte stream on its output
// pin "Output" (IAsyncReader), and is steered through IMyDVDReader. It also
// answers ISubpicturePalette with the selected title's subpicture colours.
// Created directly (CreateInstance), never through the component registry.
//
// Threads: IMyDVDReader and state changes on the application thread; reads
// from the demultiplexer's threads. The disc library is entered only under
// the stream's lock.
#pragma once

#include "demux/ISubpicturePalette.h"
#include "source/CAsyncReader.h"
#include "source/CDVDStream.h"
#include "source/IMyDVDReader.h"

constexpr CLSID CLSID_DVDSource = MakeGuid("783EAEDE-D5EE-4FCE-1C8F-A4F53D0A2F73");

class CDVDReader : public CAsyncReader, public IMyDVDReader, public ISubpicturePalette {
public:
    // Classic factory: a new filter with a reference count of 0 (the caller's
    // first QueryInterface adds one); null and *phr = E_OUTOFMEMORY on failure.
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* phr);
    // A new filter with one reference held by *ppFilter. E_POINTER, E_OUTOFMEMORY.
    static HRESULT Create(IBaseFilter** ppFilter);

    CDVDReader(IUnknown* outer, HRESULT* phr);
    ~CDVDReader() override;

    DECLARE_IUNKNOWN
    // Answers IMyDVDReader and ISubpicturePalette besides the filter interfaces.
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IMyDVDReader
    HRESULT SetDvdHandle(DvdHandle handle) override;
    HRESULT SetTitleArea(int title, int chapter) override;
    HRESULT GetTitleDuration(LONGLONG* durationMs) override;

    // ISubpicturePalette: the colours of the title SetTitleArea selected.
    HRESULT GetSubpicturePalette(DWORD palette[16]) override;

private:
    CDVDStream stream_;
};
