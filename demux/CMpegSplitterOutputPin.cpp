#include "demux/CMpegSplitterOutputPin.h"

#include <cstdlib>
#include <cstring>

#include "demux/StreamMediaTypes.h"
#include "platform/dshow/FormatBlocks.h"

namespace {

DWORD FourCCOf(const AM_MEDIA_TYPE& mt) {
    if (mt.formattype == FORMAT_MPEG2Video && mt.cbFormat >= sizeof(MPEG2VIDEOINFO))
        return reinterpret_cast<const MPEG2VIDEOINFO*>(mt.pbFormat)->hdr.bmiHeader.biCompression;
    if (mt.formattype == FORMAT_VideoInfo2 && mt.cbFormat >= sizeof(VIDEOINFOHEADER2))
        return reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat)->bmiHeader.biCompression;
    return mt.subtype.Data1;
}

bool IsFourCC(DWORD fcc, const char* upper) {
    char lower[5] = {};
    for (int i = 0; i < 4; ++i)
        lower[i] = char(upper[i] | 0x20);
    DWORD u =
        DWORD(upper[0]) | DWORD(upper[1]) << 8 | DWORD(upper[2]) << 16 | DWORD(upper[3]) << 24;
    DWORD l =
        DWORD(lower[0]) | DWORD(lower[1]) << 8 | DWORD(lower[2]) << 16 | DWORD(lower[3]) << 24;
    return fcc == u || fcc == l;
}

// Offset of the next 00 00 01 at or after `from`, or size.
std::size_t NextStartCode(const std::vector<std::uint8_t>& d, std::size_t from) {
    for (std::size_t i = from; i + 3 <= d.size(); ++i)
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) return i;
    return d.size();
}

} // namespace

CMpegSplitterOutputPin::CMpegSplitterOutputPin(const CMediaType& mt, LPCWSTR name,
                                               CBaseSplitterFilter* filter, CCritSec* lock,
                                               HRESULT* phr, REFERENCE_TIME jumpTolerance)
    : CBaseSplitterOutputPin({mt}, name, filter, lock, phr, 1), jumpTolerance_(jumpTolerance) {}

void CMpegSplitterOutputPin::ResetTiming() {
    std::lock_guard lk(lock_);
    prevStart_ = Packet::kNoTime;
    offset_ = 0;
    pending_.reset();
    pendingList_.clear();
}

HRESULT CMpegSplitterOutputPin::DeliverEndFlush() {
    ResetTiming();
    return CBaseSplitterOutputPin::DeliverEndFlush();
}

HRESULT CMpegSplitterOutputPin::DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop,
                                                  double dRate) {
    ResetTiming();
    return CBaseSplitterOutputPin::DeliverNewSegment(tStart, tStop, dRate);
}

CMpegSplitterOutputPin::Framing CMpegSplitterOutputPin::FramingOf(const AM_MEDIA_TYPE& mt) const {
    if (mt.subtype == MEDIASUBTYPE_AAC) return Framing::kAac;
    if (mt.subtype == MEDIASUBTYPE_HDMV_LPCM_AUDIO) return Framing::kHdmvLpcm;
    if (mt.majortype == MEDIATYPE_Video) {
        DWORD fcc = FourCCOf(mt);
        if (IsFourCC(fcc, "AVC1")) return Framing::kAvc;
        if (IsFourCC(fcc, "WVC1")) return Framing::kVc1;
    }
    return Framing::kNone;
}

HRESULT CMpegSplitterOutputPin::SendPacket(std::unique_ptr<Packet> p) {
    std::lock_guard lk(lock_);
    if (p->HasTime()) {
        REFERENCE_TIME s = p->start + offset_;
        if (prevStart_ != Packet::kNoTime && std::llabs(s - prevStart_) > jumpTolerance_)
            offset_ = prevStart_ - p->start;
        p->start += offset_;
        if (p->stop != Packet::kNoTime) p->stop += offset_;
        prevStart_ = p->start;
    }
    if (p->mediaType && *p->mediaType != CurrentMediaType()) SetMediaType(p->mediaType.get());
    switch (FramingOf(CurrentMediaType())) {
    case Framing::kAac:
        return SendAac(std::move(p));
    case Framing::kAvc:
        return SendAvc(std::move(p));
    case Framing::kVc1:
        return SendVc1(std::move(p));
    case Framing::kHdmvLpcm:
        if (p->data.size() <= 4) return S_OK;
        p->data.erase(p->data.begin(), p->data.begin() + 4);
        return CBaseSplitterOutputPin::SendPacket(std::move(p));
    case Framing::kNone:
        break;
    }
    pending_.reset();
    pendingList_.clear();
    return CBaseSplitterOutputPin::SendPacket(std::move(p));
}

// One piece of a re-framed payload: the first piece carries the packet's time,
// flags and media type, later ones none.
HRESULT CMpegSplitterOutputPin::SendPiece(const Packet& from, const std::uint8_t* data,
                                          std::size_t size, bool first) {
    auto out = std::make_unique<Packet>();
    out->track = from.track;
    out->SetData(data, size);
    if (first) {
        out->start = from.start;
        out->stop = from.stop;
        out->discontinuity = from.discontinuity;
        out->syncPoint = from.syncPoint;
        if (from.mediaType) out->mediaType = std::make_unique<CMediaType>(*from.mediaType);
    }
    return CBaseSplitterOutputPin::SendPacket(std::move(out));
}

// ADTS frames: 12-bit sync, 13-bit frame length; the 7-byte header (9 with
// CRC) is dropped. An incomplete frame waits for the next payload.
HRESULT CMpegSplitterOutputPin::SendAac(std::unique_ptr<Packet> p) {
    if (pending_ && !pending_->data.empty()) {
        pending_->data.insert(pending_->data.end(), p->data.begin(), p->data.end());
        if (p->HasTime() && !pending_->HasTime()) {
            pending_->start = p->start;
            pending_->stop = p->stop;
        }
    } else {
        pending_ = std::move(p);
    }
    auto& d = pending_->data;
    std::size_t pos = 0;
    bool first = true;
    HRESULT hr = S_OK;
    while (d.size() - pos >= 9) {
        if (d[pos] != 0xFF || (d[pos + 1] & 0xF6) != 0xF0) {
            ++pos;
            continue;
        }
        std::size_t header = (d[pos + 1] & 1) ? 7 : 9;
        std::size_t length = (std::size_t(d[pos + 3] & 3) << 11) | (std::size_t(d[pos + 4]) << 3) |
                             (d[pos + 5] >> 5);
        if (length <= header) {
            ++pos;
            continue;
        }
        if (d.size() - pos < length) break;
        hr = SendPiece(*pending_, d.data() + pos + header, length - header, first);
        first = false;
        pos += length;
        if (hr != S_OK) break;
    }
    d.erase(d.begin(), d.begin() + std::ptrdiff_t(pos));
    if (!first) {
        pending_->start = pending_->stop = Packet::kNoTime;
        pending_->discontinuity = false;
        pending_->mediaType.reset();
    }
    return hr;
}

// Start-code NAL units become 4-byte length-prefixed units; the units gathered
// since the last timed payload form one access unit, sent when the next
// timed payload begins.
HRESULT CMpegSplitterOutputPin::SendAvc(std::unique_ptr<Packet> p) {
    HRESULT hr = S_OK;
    if (p->HasTime() && pending_ && !pending_->data.empty()) hr = FlushPending();
    if (!pending_) {
        pending_ = std::move(p);
    } else {
        pending_->data.insert(pending_->data.end(), p->data.begin(), p->data.end());
        if (p->HasTime()) {
            pending_->start = p->start;
            pending_->stop = p->stop;
            pending_->syncPoint = p->syncPoint;
        }
    }
    return hr;
}

HRESULT CMpegSplitterOutputPin::FlushPending() {
    if (!pending_) return S_OK;
    std::unique_ptr<Packet> unit = std::move(pending_);
    if (CurrentMediaType().majortype == MEDIATYPE_Video &&
        FramingOf(CurrentMediaType()) == Framing::kAvc) {
        const auto& d = unit->data;
        std::vector<std::uint8_t> out;
        std::size_t sc = NextStartCode(d, 0);
        while (sc < d.size()) {
            std::size_t begin = sc + 3;
            std::size_t next = NextStartCode(d, begin);
            std::size_t end = next;
            while (end > begin && d[end - 1] == 0)
                --end; // trailing zeros belong to the next start code
            std::size_t n = end - begin;
            if (n) {
                std::uint8_t len[4] = {std::uint8_t(n >> 24), std::uint8_t(n >> 16),
                                       std::uint8_t(n >> 8), std::uint8_t(n)};
                out.insert(out.end(), len, len + 4);
                out.insert(out.end(), d.begin() + std::ptrdiff_t(begin),
                           d.begin() + std::ptrdiff_t(end));
            }
            sc = next;
        }
        unit->data.swap(out);
    }
    return CBaseSplitterOutputPin::SendPacket(std::move(unit));
}

// A VC-1 frame runs from a frame (0D) or sequence header (0F) start code to the
// next one; a frame start code right after a sequence header belongs to it.
HRESULT CMpegSplitterOutputPin::SendVc1(std::unique_ptr<Packet> p) {
    if (!pending_) {
        pending_ = std::move(p);
    } else {
        pending_->data.insert(pending_->data.end(), p->data.begin(), p->data.end());
        if (p->HasTime() && !pending_->HasTime()) {
            pending_->start = p->start;
            pending_->stop = p->stop;
            pending_->syncPoint = p->syncPoint;
        }
    }
    auto& d = pending_->data;
    HRESULT hr = S_OK;
    bool first = true;
    std::size_t begin = NextStartCode(d, 0);
    bool sawFrame = false;
    for (std::size_t sc = begin; sc + 3 < d.size();) {
        std::size_t next = NextStartCode(d, sc + 3);
        if (next + 3 >= d.size()) break;
        std::uint8_t code = d[next + 3];
        if (d[sc + 3] == 0x0D) sawFrame = true;
        bool boundary = code == 0x0F || (code == 0x0D && sawFrame);
        if (boundary) {
            hr = SendPiece(*pending_, d.data() + begin, next - begin, first);
            first = false;
            begin = next;
            sawFrame = false;
            if (hr != S_OK) break;
        }
        sc = next;
    }
    d.erase(d.begin(), d.begin() + std::ptrdiff_t(std::min(begin, d.size())));
    if (!first) {
        pending_->start = pending_->stop = Packet::kNoTime;
        pending_->discontinuity = false;
        pending_->mediaType.reset();
    }
    return hr;
}

HRESULT CMpegSplitterOutputPin::SendEndOfStream() {
    {
        std::lock_guard lk(lock_);
        if (pending_ && !pending_->data.empty()) {
            Framing f = FramingOf(CurrentMediaType());
            if (f == Framing::kAvc)
                FlushPending();
            else if (f == Framing::kVc1)
                CBaseSplitterOutputPin::SendPacket(std::move(pending_));
        }
        pending_.reset();
        pendingList_.clear();
    }
    return CBaseSplitterOutputPin::SendEndOfStream();
}
