#include "source/CDVDReader.h"

#include "platform/dshow/FilterFactory.h"

#include <new>

CUnknown* CDVDReader::CreateInstance(IUnknown* outer, HRESULT* phr) {
    return CreateFilterInstance<CDVDReader>(outer, phr);
}

HRESULT CDVDReader::Create(IBaseFilter** ppFilter) { return CreateFilter<CDVDReader>(ppFilter); }

// The stream member is built after the base, which only keeps its address.
CDVDReader::CDVDReader(IUnknown* outer, HRESULT* phr)
    : CAsyncReader("DVD source", outer, &stream_, CLSID_DVDSource, phr) {
    if (phr) *phr = S_OK;
}

// The queue's worker may be reading the stream: stop it first.
CDVDReader::~CDVDReader() { StopRequests(); }

HRESULT CDVDReader::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IMyDVDReader) return ::GetInterface(static_cast<IMyDVDReader*>(this), ppv);
    if (riid == IID_ISubpicturePalette)
        return ::GetInterface(static_cast<ISubpicturePalette*>(this), ppv);
    return CAsyncReader::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CDVDReader::SetDvdHandle(DvdHandle handle) {
    HRESULT hr = stream_.SetDvdHandle(handle);
    if (FAILED(hr)) return hr;
    CMediaType mt(&MEDIATYPE_Stream);
    mt.SetSubtype(&GUID_NULL);
    return SetOutputType(mt);
}

HRESULT CDVDReader::SetTitleArea(int title, int chapter) {
    return stream_.SetTitleArea(title, chapter);
}

HRESULT CDVDReader::GetTitleDuration(LONGLONG* durationMs) {
    if (!durationMs) return E_POINTER;
    *durationMs = stream_.TitleDurationMs();
    return S_OK;
}

HRESULT CDVDReader::GetSubpicturePalette(DWORD palette[16]) {
    if (!palette) return E_POINTER;
    std::uint32_t colours[16];
    if (!stream_.SubpicturePalette(colours)) return S_FALSE;
    for (int i = 0; i < 16; ++i)
        palette[i] = DWORD(colours[i]);
    return S_OK;
}
