#include "PacketSource.h"

#include <algorithm>
#include <cstring>

#include "platform/dshow/FormatBlocks.h"

namespace mediatest {

CPacketSourcePin::CPacketSourcePin(CPacketSource* filter, CCritSec* lock, HRESULT* phr,
                                   const std::wstring& name, const CMediaType& mt, LONG bufferSize)
    : CBaseOutputPin("Packet source pin", filter, lock, phr, name.c_str()), type_(mt),
      bufferSize_(bufferSize) {}

HRESULT CPacketSourcePin::CheckMediaType(const CMediaType* pmt) {
    return pmt && *pmt == type_ ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CPacketSourcePin::GetMediaType(int iPosition, CMediaType* pmt) {
    if (iPosition < 0) return E_INVALIDARG;
    if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
    *pmt = type_;
    return S_OK;
}

HRESULT CPacketSourcePin::DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* prop) {
    prop->cBuffers = std::max<LONG>(prop->cBuffers, 4);
    prop->cbBuffer = std::max(prop->cbBuffer, bufferSize_);
    ALLOCATOR_PROPERTIES actual{};
    return alloc->SetProperties(prop, &actual);
}

HRESULT CPacketSourcePin::Send(const BYTE* data, LONG size, bool hasTime, REFERENCE_TIME start,
                               bool discontinuity) {
    IMediaSample* s = nullptr;
    HRESULT hr = GetDeliveryBuffer(&s, nullptr, nullptr, 0);
    if (FAILED(hr)) return hr;
    BYTE* dst = nullptr;
    s->GetPointer(&dst);
    size = std::min(size, s->GetSize());
    std::memcpy(dst, data, size);
    s->SetActualDataLength(size);
    if (hasTime) {
        REFERENCE_TIME stop = start + 1;
        s->SetTime(&start, &stop);
    }
    s->SetSyncPoint(hasTime);
    s->SetDiscontinuity(discontinuity);
    hr = Deliver(s);
    s->Release();
    return hr;
}

CPacketSource::CPacketSource()
    : CBaseFilter("Packet source", nullptr, this,
                  MakeGuid("6A1F0000-0000-4000-8000-0000000000A1")) {}

CPacketSource::~CPacketSource() = default;

int CPacketSource::AddStream(const std::wstring& name, const CMediaType& mt, LONG bufferSize) {
    HRESULT hr = S_OK;
    pins_.push_back(std::make_unique<CPacketSourcePin>(this, this, &hr, name, mt, bufferSize));
    IncrementPinVersion();
    return int(pins_.size()) - 1;
}

CBasePin* CPacketSource::GetPin(int n) {
    return n >= 0 && n < int(pins_.size()) ? pins_[n].get() : nullptr;
}

CMediaType Mpeg2VideoType(int width, int height, REFERENCE_TIME frameDuration) {
    CMediaType mt;
    mt.SetType(&MEDIATYPE_Video);
    mt.SetSubtype(&MEDIASUBTYPE_MPEG2_VIDEO);
    mt.SetFormatType(&FORMAT_MPEG2Video);
    auto* vi = reinterpret_cast<MPEG2VIDEOINFO*>(mt.AllocFormatBuffer(sizeof(MPEG2VIDEOINFO)));
    vi->hdr.AvgTimePerFrame = frameDuration;
    vi->hdr.dwPictAspectRatioX = 4;
    vi->hdr.dwPictAspectRatioY = 3;
    vi->hdr.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vi->hdr.bmiHeader.biWidth = width;
    vi->hdr.bmiHeader.biHeight = height;
    return mt;
}

namespace {
WAVEFORMATEX* Wave(CMediaType& mt, const GUID& sub, ULONG bytes, WORD tag, int ch, int rate) {
    mt.SetType(&MEDIATYPE_Audio);
    mt.SetSubtype(&sub);
    mt.SetFormatType(&FORMAT_WaveFormatEx);
    auto* w = reinterpret_cast<WAVEFORMATEX*>(mt.AllocFormatBuffer(bytes));
    w->wFormatTag = tag;
    w->nChannels = WORD(ch);
    w->nSamplesPerSec = DWORD(rate);
    w->cbSize = WORD(bytes - sizeof(WAVEFORMATEX));
    return w;
}
} // namespace

CMediaType Ac3Type(int channels, int rate) {
    CMediaType mt;
    Wave(mt, MEDIASUBTYPE_DOLBY_AC3, sizeof(WAVEFORMATEX), WAVE_FORMAT_DOLBY_AC3, channels, rate);
    return mt;
}

CMediaType Mpeg1AudioType(int layer, int channels, int rate) {
    CMediaType mt;
    auto* w = reinterpret_cast<MPEG1WAVEFORMAT*>(Wave(mt, MEDIASUBTYPE_MPEG1AudioPayload,
                                                      sizeof(MPEG1WAVEFORMAT), WAVE_FORMAT_MPEG,
                                                      channels, rate));
    w->fwHeadLayer = WORD(1 << (layer - 1));
    return mt;
}

CMediaType LpcmType(int channels, int rate, int bits) {
    CMediaType mt;
    WAVEFORMATEX* w = Wave(mt, MEDIASUBTYPE_DVD_LPCM_AUDIO, sizeof(WAVEFORMATEX), WAVE_FORMAT_PCM,
                           channels, rate);
    w->wBitsPerSample = WORD(bits);
    w->nBlockAlign = WORD(channels * bits / 8);
    w->nAvgBytesPerSec = w->nBlockAlign * DWORD(rate);
    return mt;
}

CMediaType SubpictureType() {
    CMediaType mt;
    mt.SetType(&MEDIATYPE_Video);
    mt.SetSubtype(&MEDIASUBTYPE_DVD_SUBPICTURE);
    mt.SetFormatType(&FORMAT_None);
    return mt;
}

CMediaType Yv12Type(int width, int height) {
    CMediaType mt;
    mt.SetType(&MEDIATYPE_Video);
    mt.SetSubtype(&MEDIASUBTYPE_YV12);
    mt.SetFormatType(&FORMAT_VideoInfo);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih->bmiHeader.biWidth = width;
    vih->bmiHeader.biHeight = height;
    vih->bmiHeader.biBitCount = 12;
    vih->bmiHeader.biCompression = 0x32315659;
    vih->bmiHeader.biSizeImage = DWORD(width * height * 3 / 2);
    return mt;
}

} // namespace mediatest
