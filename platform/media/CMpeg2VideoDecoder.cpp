#include "platform/media/CMpeg2VideoDecoder.h"

#include "platform/dshow/FilterFactory.h"

#include <algorithm>
#include <cstring>
#include <new>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "platform/dshow/FormatBlocks.h"
#include "platform/media/CSubpictureInputPin.h"
#include "platform/media/MediaClsids.h"
#include "platform/win/DebugTrace.h"

namespace {
constexpr DWORD kFourccYV12 = 0x32315659;
} // namespace

CUnknown* CMpeg2VideoDecoder::CreateInstance(IUnknown* outer, HRESULT* phr) {
    return CreateFilterInstance<CMpeg2VideoDecoder>(outer, phr);
}

CMpeg2VideoDecoder::CMpeg2VideoDecoder(IUnknown* outer, HRESULT* phr)
    : CTransformFilter("MPEG-2 video decoder", outer, CLSID_MpegDecoder) {
    subpicturePin_ = std::make_unique<CSubpictureInputPin>(this, &m_csFilter, phr, &overlay_);
}

CMpeg2VideoDecoder::~CMpeg2VideoDecoder() {
    DropHeld();
}

CBasePin* CMpeg2VideoDecoder::GetPin(int n) {
    switch (n) {
    case 0:
        return CTransformFilter::GetPin(0);
    case 1:
        return subpicturePin_.get();
    case 2:
        return CTransformFilter::GetPin(1);
    default:
        return nullptr;
    }
}

HRESULT CMpeg2VideoDecoder::FindPin(LPCWSTR id, IPin** pp) {
    if (!pp || !id) return E_POINTER;
    if (std::wstring(id) == subpicturePin_->Name()) {
        *pp = subpicturePin_.get();
        subpicturePin_->AddRef();
        return S_OK;
    }
    return CTransformFilter::FindPin(id, pp);
}

HRESULT CMpeg2VideoDecoder::Stop() {
    {
        CAutoLock lock(&m_csFilter);
        subpicturePin_->Inactive();
    }
    return CTransformFilter::Stop();
}

bool CMpeg2VideoDecoder::ReadInputType(const CMediaType& mt, int* w, int* h, REFERENCE_TIME* frame,
                                       bool* mpeg2) {
    if (mt.majortype != MEDIATYPE_Video || !mt.pbFormat) return false;
    const VIDEOINFOHEADER* vih = nullptr;
    const VIDEOINFOHEADER2* vih2 = nullptr;
    if (mt.subtype == MEDIASUBTYPE_MPEG2_VIDEO && mt.formattype == FORMAT_MPEG2Video &&
        mt.cbFormat >= offsetof(MPEG2VIDEOINFO, dwSequenceHeader)) {
        vih2 = &reinterpret_cast<const MPEG2VIDEOINFO*>(mt.pbFormat)->hdr;
        *mpeg2 = true;
    } else if ((mt.subtype == MEDIASUBTYPE_MPEG1Payload || mt.subtype == MEDIASUBTYPE_MPEG1Video ||
                mt.subtype == MEDIASUBTYPE_MPEG1Packet) &&
               mt.formattype == FORMAT_MPEGVideo &&
               mt.cbFormat >= offsetof(MPEG1VIDEOINFO, bSequenceHeader)) {
        vih = &reinterpret_cast<const MPEG1VIDEOINFO*>(mt.pbFormat)->hdr;
        *mpeg2 = false;
    } else {
        return false;
    }
    const BITMAPINFOHEADER& bmi = vih ? vih->bmiHeader : vih2->bmiHeader;
    *frame = vih ? vih->AvgTimePerFrame : vih2->AvgTimePerFrame;
    *w = bmi.biWidth;
    *h = std::abs(bmi.biHeight);
    // Even sizes within what MPEG-2 allows.
    return *w > 0 && *h > 0 && *w <= 4096 && *h <= 4096 && *w % 2 == 0 && *h % 2 == 0;
}

HRESULT CMpeg2VideoDecoder::CheckInputType(const CMediaType* mtIn) {
    int w, h;
    REFERENCE_TIME frame;
    bool mpeg2;
    if (!mtIn || !ReadInputType(*mtIn, &w, &h, &frame, &mpeg2)) return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT CMpeg2VideoDecoder::SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) {
    if (direction != PINDIR_INPUT) return S_OK;
    int w, h;
    REFERENCE_TIME frame;
    bool mpeg2;
    if (!pmt || !ReadInputType(*pmt, &w, &h, &frame, &mpeg2)) return VFW_E_TYPE_NOT_ACCEPTED;
    width_ = w;
    height_ = h;
    frameDuration_ = frame;
    mpeg2_ = mpeg2;
    return S_OK;
}

HRESULT CMpeg2VideoDecoder::GetMediaType(int iPosition, CMediaType* mt) {
    if (iPosition < 0) return E_INVALIDARG;
    if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
    mt->InitMediaType();
    mt->SetType(&MEDIATYPE_Video);
    mt->SetSubtype(&MEDIASUBTYPE_YV12);
    mt->SetFormatType(&FORMAT_VideoInfo);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt->AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    if (!vih) return E_OUTOFMEMORY;
    const ULONG image = ULONG(width_) * height_ * 3 / 2;
    vih->rcSource = RECT{0, 0, width_, height_};
    vih->rcTarget = RECT{0, 0, width_, height_};
    vih->AvgTimePerFrame = frameDuration_;
    vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih->bmiHeader.biWidth = width_;
    vih->bmiHeader.biHeight = height_;
    vih->bmiHeader.biPlanes = 1;
    vih->bmiHeader.biBitCount = 12;
    vih->bmiHeader.biCompression = kFourccYV12;
    vih->bmiHeader.biSizeImage = image;
    if (frameDuration_ > 0) vih->dwBitRate = DWORD(double(image) * 8 * UNITS / frameDuration_);
    mt->SetSampleSize(image);
    mt->SetTemporalCompression(FALSE);
    return S_OK;
}

HRESULT CMpeg2VideoDecoder::CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) {
    if (!mtOut || mtOut->majortype != MEDIATYPE_Video || mtOut->subtype != MEDIASUBTYPE_YV12 ||
        mtOut->formattype != FORMAT_VideoInfo || mtOut->cbFormat < sizeof(VIDEOINFOHEADER))
        return VFW_E_TYPE_NOT_ACCEPTED;
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mtOut->pbFormat);
    return vih->bmiHeader.biWidth == width_ && vih->bmiHeader.biHeight == height_
               ? S_OK
               : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CMpeg2VideoDecoder::DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* prop) {
    prop->cBuffers = std::max<LONG>(prop->cBuffers, 4);
    prop->cbBuffer = std::max<LONG>(prop->cbBuffer, LONG(width_) * height_ * 3 / 2);
    prop->cbAlign = std::max<LONG>(prop->cbAlign, 1);
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = alloc->SetProperties(prop, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer >= LONG(width_) * height_ * 3 / 2 ? S_OK : E_FAIL;
}

HRESULT CMpeg2VideoDecoder::StartStreaming() {
    if (!core_.Open(mpeg2_, frameDuration_)) return E_FAIL;
    discontinuity_ = true;
    return S_OK;
}

HRESULT CMpeg2VideoDecoder::StopStreaming() {
    DropHeld();
    haveInputTime_ = false;
    core_.Close();
    return S_OK;
}

HRESULT CMpeg2VideoDecoder::Receive(IMediaSample* sample) {
    BYTE* data = nullptr;
    HRESULT hr = sample->GetPointer(&data);
    if (FAILED(hr)) return hr;
    REFERENCE_TIME start = 0, stop = 0;
    const bool hasTime = SUCCEEDED(sample->GetTime(&start, &stop));
    if (hasTime && (!haveInputTime_ || start > inputTime_)) {
        inputTime_ = start;
        haveInputTime_ = true;
    }
    hr = core_.Decode(data, sample->GetActualDataLength(), hasTime, start,
                      [this](const AVFrame* f, REFERENCE_TIME s, REFERENCE_TIME e) {
                          return OnPicture(f, s, e);
                      });
    if (FAILED(hr) || held_.empty() || !haveInputTime_) return hr;
    return ReleaseHeld(inputTime_ - kSubpictureLead);
}

HRESULT CMpeg2VideoDecoder::OnPicture(const AVFrame* frame, REFERENCE_TIME start,
                                      REFERENCE_TIME stop) {
    if (!subpicturePin_->IsConnected()) return DeliverPicture(frame, start, stop);
    AVFrame* copy = av_frame_clone(frame);
    if (!copy) return E_OUTOFMEMORY;
    held_.push_back(Held{copy, start, stop});
    return S_OK;
}

HRESULT CMpeg2VideoDecoder::ReleaseHeld(REFERENCE_TIME until) {
    while (!held_.empty() && held_.front().start <= until) {
        Held h = held_.front();
        held_.pop_front();
        HRESULT hr = DeliverPicture(h.frame, h.start, h.stop);
        av_frame_free(&h.frame);
        if (FAILED(hr)) {
            DropHeld();
            return hr;
        }
    }
    return S_OK;
}

void CMpeg2VideoDecoder::DropHeld() {
    for (Held& h : held_)
        av_frame_free(&h.frame);
    held_.clear();
}

void CMpeg2VideoDecoder::CopyPicture(const AVFrame* frame, BYTE* dst) const {
    const int w = width_, h = height_;
    const int fw = std::min(w, frame->width), fh = std::min(h, frame->height);
    BYTE* planes[3] = {dst, dst + std::size_t(w) * h, dst + std::size_t(w) * h * 5 / 4};
    // YV12 order: Y, V (frame plane 2), U (frame plane 1).
    const int src[3] = {0, 2, 1};
    for (int p = 0; p < 3; ++p) {
        const int pw = p ? w / 2 : w, ph = p ? h / 2 : h;
        const int cw = p ? fw / 2 : fw, ch = p ? fh / 2 : fh;
        const BYTE* s = frame->data[src[p]];
        const int pitch = frame->linesize[src[p]];
        for (int y = 0; y < ph; ++y) {
            BYTE* d = planes[p] + std::size_t(y) * pw;
            if (y < ch) {
                std::memcpy(d, s + std::size_t(y) * pitch, cw);
                if (cw < pw) std::memset(d + cw, p ? 128 : 16, pw - cw);
            } else {
                std::memset(d, p ? 128 : 16, pw);
            }
        }
    }
}

HRESULT CMpeg2VideoDecoder::DeliverPicture(const AVFrame* frame, REFERENCE_TIME start,
                                           REFERENCE_TIME stop) {
    if (frame->format != AV_PIX_FMT_YUV420P && frame->format != AV_PIX_FMT_YUVJ420P) {
        DebugTrace("CMpeg2VideoDecoder: picture format %d skipped\n", frame->format);
        return S_OK;
    }
    IMediaSample* out = nullptr;
    HRESULT hr = m_pOutput->GetDeliveryBuffer(&out, &start, &stop, 0);
    if (FAILED(hr)) return hr;
    BYTE* dst = nullptr;
    const LONG size = LONG(width_) * height_ * 3 / 2;
    if (FAILED(out->GetPointer(&dst)) || out->GetSize() < size) {
        out->Release();
        return E_FAIL;
    }
    CopyPicture(frame, dst);
    if (subpicturePin_->IsConnected()) overlay_.Blend(dst, width_, height_, start);
    out->SetActualDataLength(size);
    out->SetTime(&start, &stop);
    out->SetSyncPoint(TRUE);
    out->SetDiscontinuity(discontinuity_);
    discontinuity_ = false;
    hr = m_pOutput->Deliver(out);
    out->Release();
    return hr;
}

HRESULT CMpeg2VideoDecoder::EndOfStream() {
    {
        CAutoLock lock(&m_csReceive);
        if (core_.IsOpen() && m_pOutput->IsConnected()) {
            HRESULT hr = core_.Drain([this](const AVFrame* f, REFERENCE_TIME s, REFERENCE_TIME e) {
                return OnPicture(f, s, e);
            });
            if (SUCCEEDED(hr)) ReleaseHeld(MAX_TIME);
        }
        DropHeld();
        haveInputTime_ = false;
    }
    return CTransformFilter::EndOfStream();
}

HRESULT CMpeg2VideoDecoder::EndFlush() {
    {
        CAutoLock lock(&m_csReceive);
        core_.Reset();
        DropHeld();
        haveInputTime_ = false;
        discontinuity_ = true;
    }
    return CTransformFilter::EndFlush();
}

HRESULT CMpeg2VideoDecoder::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
    {
        CAutoLock lock(&m_csReceive);
        discontinuity_ = true;
    }
    return CTransformFilter::NewSegment(tStart, tStop, dRate);
}
