#include "demux/CBaseSplitterFileEx.h"

#include <algorithm>

#include "demux/StreamMediaTypes.h"

using namespace mpeg;

// Optional interface of a byte source that carries a time offset for its data.
static constexpr IID IID_ITimeOffsetSource = MakeGuid("6DDB4EE7-45A0-4459-A508-BD77B32C91B2");

CBaseSplitterFileEx::CBaseSplitterFileEx(IAsyncReader* reader, HRESULT& hr, int cacheBytes,
                                         bool randomAccessRequired, bool streamingAllowed)
    : CBaseSplitterFile(reader, hr, cacheBytes, randomAccessRequired, streamingAllowed) {
    // No source of this system offers the time-offset interface; when one does,
    // its offset would be read here. The query keeps the contract visible.
    if (reader) {
        IUnknown* unk = nullptr;
        if (SUCCEEDED(
                reader->QueryInterface(IID_ITimeOffsetSource, reinterpret_cast<void**>(&unk))) &&
            unk)
            unk->Release();
    }
}

void CBaseSplitterFileEx::Skip(std::int64_t count) {
    if (count > 0) Seek(GetPos() + count);
}

void CBaseSplitterFileEx::PeekBytes(std::vector<std::uint8_t>& out, std::int64_t max) {
    std::int64_t pos = GetPos();
    std::int64_t n = std::min(max, GetRemaining());
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    if (!out.empty() && ReadBytes(out.data(), static_cast<std::int64_t>(out.size())) != S_OK)
        out.clear();
    Seek(pos);
}

bool CBaseSplitterFileEx::FindStartCode(BYTE& code, std::int64_t limit) {
    AlignToByte();
    // Only this search's own read failures end it; an earlier one stays reported.
    const bool failedBefore = ReadFailed();
    ClearReadError();
    bool found = false;
    std::uint32_t window = 0xFFFFFFFF;
    for (std::int64_t i = 0; i < limit && GetRemaining() > 0; ++i) {
        window = (window << 8) | static_cast<std::uint32_t>(ReadBits(8));
        if (ReadFailed()) break;
        if ((window & 0xFFFFFF00u) == 0x00000100u) {
            code = static_cast<BYTE>(window & 0xFF);
            found = true;
            break;
        }
    }
    if (failedBefore) MarkReadError();
    return found;
}

bool CBaseSplitterFileEx::ReadTimestamp33(std::uint64_t& value) {
    std::uint64_t v = ReadBits(3) << 30;
    if (!ReadBits(1)) return false;
    v |= ReadBits(15) << 15;
    if (!ReadBits(1)) return false;
    v |= ReadBits(15);
    if (!ReadBits(1)) return false;
    value = v;
    return true;
}

// ---- program stream ------------------------------------------------------------------

bool CBaseSplitterFileEx::ReadPackHeader(PackHeader& h) {
    h = {};
    std::uint64_t b = ReadBits(8, true);
    if ((b & 0xF1) == 0x21) {
        h.version = 1;
        ReadBits(4);
        std::uint64_t scr = 0;
        if (!ReadTimestamp33(scr)) return false;
        if (!ReadBits(1)) return false;
        std::uint32_t mux = static_cast<std::uint32_t>(ReadBits(22));
        if (!ReadBits(1)) return false;
        h.scr = ScrToTime(scr, 0);
        h.bitrate = mux * 400;
        return true;
    }
    if ((b & 0xC4) == 0x44) {
        h.version = 2;
        ReadBits(2);
        std::uint64_t scr = 0;
        if (!ReadTimestamp33(scr)) return false;
        std::uint64_t ext = ReadBits(9);
        if (!ReadBits(1)) return false;
        std::uint32_t mux = static_cast<std::uint32_t>(ReadBits(22));
        if (!ReadBits(1) || !ReadBits(1)) return false;
        ReadBits(5);
        int stuffing = static_cast<int>(ReadBits(3));
        Skip(stuffing);
        h.scr = ScrToTime(scr, ext);
        h.bitrate = mux * 400;
        return true;
    }
    return false;
}

bool CBaseSplitterFileEx::ReadSystemHeader(SystemHeader& h) {
    h = {};
    h.length = static_cast<std::uint16_t>(ReadBits(16));
    if (h.length < 6) return false;
    std::int64_t end = GetPos() + h.length;
    if (!ReadBits(1)) return false;
    h.rateBound = static_cast<std::uint32_t>(ReadBits(22));
    if (!ReadBits(1)) return false;
    h.audioBound = static_cast<std::uint8_t>(ReadBits(6));
    h.fixedRate = ReadBits(1);
    h.csps = ReadBits(1);
    h.audioLock = ReadBits(1);
    h.videoLock = ReadBits(1);
    if (!ReadBits(1)) return false;
    h.videoBound = static_cast<std::uint8_t>(ReadBits(5));
    ReadBits(8);
    for (int left = h.length - 6; left >= 3; left -= 3) {
        std::uint8_t id = static_cast<std::uint8_t>(ReadBits(8));
        if (ReadBits(2) != 3) return false;
        int scale = static_cast<int>(ReadBits(1));
        std::uint32_t size = static_cast<std::uint32_t>(ReadBits(13));
        if (h.streamCount < static_cast<int>(h.streams.size()))
            h.streams[h.streamCount++] = {id, size * (scale ? 1024u : 128u)};
    }
    Seek(end);
    return true;
}

bool CBaseSplitterFileEx::ReadPesHeader(PesHeader& h, BYTE streamId) {
    h = {};
    if (!IsPesStreamId(streamId)) return false;
    int len = static_cast<int>(ReadBits(16));
    const bool unbounded = len == 0;
    if (streamId == kPaddingStream || streamId == kPrivateStream2) {
        h.length = len;
        return true;
    }
    for (int i = 0; i < kMaxStuffingBytes && ReadBits(8, true) == 0xFF; ++i) {
        ReadBits(8);
        --len;
    }
    if (unbounded) len = 0;
    if (ReadBits(2, true) == 2) {
        h.version = 2;
        ReadBits(2);
        h.scrambling = static_cast<std::uint8_t>(ReadBits(2));
        h.priority = ReadBits(1);
        h.alignment = ReadBits(1);
        h.copyright = ReadBits(1);
        h.original = ReadBits(1);
        int flags = static_cast<int>(ReadBits(2));
        h.hasPts = flags & 2;
        h.hasDts = flags & 1;
        h.escr = ReadBits(1);
        h.esRate = ReadBits(1);
        h.trickMode = ReadBits(1);
        h.additionalCopy = ReadBits(1);
        h.crc = ReadBits(1);
        h.extension = ReadBits(1);
        h.headerDataLength = static_cast<std::uint8_t>(ReadBits(8));
        int used = 0;
        if (h.hasPts) {
            std::uint64_t v = 0;
            if (ReadBits(4) != (h.hasDts ? 3u : 2u) || !ReadTimestamp33(v)) return false;
            h.pts = PtsToTime(v) + timeOffset_;
            used += 5;
        }
        if (h.hasDts) {
            std::uint64_t v = 0;
            if (ReadBits(4) != 1 || !ReadTimestamp33(v)) return false;
            h.dts = PtsToTime(v) + timeOffset_;
            used += 5;
        }
        // A header that claims less than its time stamps use, or more than the
        // packet holds, is damaged.
        if (used > h.headerDataLength) return false;
        Skip(h.headerDataLength - used);
        // A length field of 0 means "unbounded" (video in a transport stream): the
        // payload length stays 0 and the caller bounds it by the packet.
        if (unbounded) return true;
        len -= h.headerDataLength + 3;
        if (len < 0) return false;
        h.length = len;
        return true;
    }
    h.version = 1;
    std::uint64_t b = ReadBits(2);
    if (b == 1) {
        int scale = static_cast<int>(ReadBits(1));
        h.bufferSize = static_cast<int>(ReadBits(13)) * (scale ? 1024 : 128);
        len -= 2;
        b = ReadBits(2);
    }
    if (b != 0) return false;
    h.hasPts = ReadBits(1);
    h.hasDts = ReadBits(1);
    if (h.hasPts) {
        std::uint64_t v = 0;
        if (!ReadTimestamp33(v)) return false;
        h.pts = PtsToTime(v) + timeOffset_;
    }
    if (h.hasDts) {
        std::uint64_t v = 0;
        if (ReadBits(4) != 1 || !ReadTimestamp33(v)) return false;
        h.dts = PtsToTime(v) + timeOffset_;
    }
    if (!h.hasPts && !h.hasDts && ReadBits(4) != 0xF) return false;
    if (h.hasDts && !h.hasPts) return false; // '0001' is not a valid MPEG-1 flag pair
    len -= h.hasPts ? 5 : 1;
    if (h.hasDts) len -= 5;
    if (len < 0) return false;
    h.length = len;
    return true;
}

// ---- transport stream ----------------------------------------------------------------

bool CBaseSplitterFileEx::FindTsPacketSize() {
    if (tsPacketSize_) return true;
    std::int64_t start = GetPos();
    std::int64_t len = GetLength();
    for (int i = 0; i < kM2tsPacketSize && start + i < len; ++i) {
        Seek(start + i);
        if (ReadBits(8) != kTsSyncByte) continue;
        // One packet ahead, or two when the next sync byte is damaged.
        for (int size : {kTsPacketSize, kM2tsPacketSize}) {
            for (int k = 1; k <= 2; ++k) {
                std::int64_t at = start + i + std::int64_t(k) * size;
                if (at >= len) break;
                Seek(at);
                if (ReadBits(8) == kTsSyncByte) {
                    tsPacketSize_ = size;
                    Seek(start);
                    return true;
                }
            }
        }
    }
    Seek(start);
    return false;
}

bool CBaseSplitterFileEx::ReadTsHeader(TsHeader& h, bool resync) {
    h = {};
    if (!FindTsPacketSize()) return false;
    if (resync) {
        std::int64_t start = GetPos();
        std::int64_t len = GetLength();
        bool found = false;
        // Up to and including the next packet start, so one damaged sync byte is skipped.
        for (int i = 0; i <= tsPacketSize_ && start + i < len; ++i) {
            Seek(start + i);
            if (ReadBits(8) != kTsSyncByte) continue;
            // Confirmed by the next packet's sync byte, or the one after it when
            // the next one is damaged; the last packets have no successor to ask.
            std::int64_t next = start + i + tsPacketSize_;
            for (int k = 0; k < 2 && !found; ++k, next += tsPacketSize_) {
                if (next >= len) {
                    found = true;
                } else {
                    Seek(next);
                    found = ReadBits(8) == kTsSyncByte;
                }
            }
            if (found) {
                Seek(start + i);
                break;
            }
        }
        if (!found) {
            Seek(start + tsPacketSize_); // move on; the next call looks further
            return false;
        }
    }
    std::int64_t syncPos = GetPos();
    if (ReadBits(8) != kTsSyncByte) return false;
    h.transportError = ReadBits(1);
    h.payloadStart = ReadBits(1);
    h.priority = ReadBits(1);
    h.pid = static_cast<std::uint16_t>(ReadBits(13));
    h.scrambling = static_cast<std::uint8_t>(ReadBits(2));
    h.hasAdaptation = ReadBits(1);
    h.hasPayload = ReadBits(1);
    h.counter = static_cast<std::uint8_t>(ReadBits(4));
    h.next = syncPos + tsPacketSize_;
    h.payloadBytes = kTsPayloadBytes;
    if (h.hasAdaptation) {
        h.adaptationLength = static_cast<std::uint8_t>(ReadBits(8));
        if (h.adaptationLength > 0) {
            h.discontinuity = ReadBits(1);
            h.randomAccess = ReadBits(1);
            h.esPriority = ReadBits(1);
            h.hasPcr = ReadBits(1);
            h.hasOpcr = ReadBits(1);
            h.splicing = ReadBits(1);
            h.privateData = ReadBits(1);
            h.afExtension = ReadBits(1);
            int used = 1;
            if (h.hasPcr) {
                if (h.adaptationLength < 7) return false;
                std::uint64_t base = ReadBits(33);
                ReadBits(6);
                std::uint64_t ext = ReadBits(9);
                h.pcr = ScrToTime(base, ext);
                used += 6;
            }
            Skip(h.adaptationLength - used);
        }
        h.payloadBytes = kTsPayloadBytes - h.adaptationLength - 1;
        if (h.payloadBytes < 0) return false;
    }
    return true;
}

bool CBaseSplitterFileEx::ReadPsiHeader(PsiHeader& h) {
    h = {};
    int pointer = static_cast<int>(ReadBits(8));
    Skip(pointer);
    h.tableId = static_cast<std::uint8_t>(ReadBits(8));
    h.syntax = ReadBits(1);
    bool zero = ReadBits(1);
    ReadBits(2);
    h.sectionLength = static_cast<std::uint16_t>(ReadBits(12));
    h.transportStreamId = static_cast<std::uint16_t>(ReadBits(16));
    ReadBits(2);
    h.version = static_cast<std::uint8_t>(ReadBits(5));
    h.currentNext = ReadBits(1);
    h.section = static_cast<std::uint8_t>(ReadBits(8));
    h.lastSection = static_cast<std::uint8_t>(ReadBits(8));
    return h.syntax && !zero;
}

// ---- PVA -------------------------------------------------------------------------------

bool CBaseSplitterFileEx::ReadPvaHeader(PvaHeader& h, bool resync) {
    h = {};
    if (resync) {
        bool found = false;
        const std::int64_t begin = GetPos();
        for (;;) {
            std::int64_t left = kPvaResyncLimit - (GetPos() - begin);
            if (left <= 0 || !SkipToByte('A', left) || GetRemaining() < 8) break;
            std::uint64_t w = ReadBits(64, true);
            if ((w >> 48) == 0x4156 && ((w >> 40) & 0xFF) <= 3 && ((w >> 24) & 0xFF) == 0x55 &&
                ((w >> 16) & 0xE0) == 0) {
                found = true;
                break;
            }
            ReadBits(8);
        }
        if (!found) return false;
    }
    h.offset = GetPos();
    if (ReadBits(16) != 0x4156) return false; // "AV"
    h.streamId = static_cast<std::uint8_t>(ReadBits(8));
    h.counter = static_cast<std::uint8_t>(ReadBits(8));
    ReadBits(8);
    ReadBits(3);
    h.hasPts = ReadBits(1);
    h.postBytes = static_cast<std::uint8_t>(ReadBits(2));
    h.preBytes = static_cast<std::uint8_t>(ReadBits(2));
    int len = static_cast<int>(ReadBits(16));
    if (len > kPvaMaxLength) return false;
    if (h.streamId == 1 && h.hasPts) {
        h.pts = PtsToTime(ReadBits(32)) + timeOffset_;
        len -= 4;
    } else if (h.streamId == 2) {
        std::uint64_t next = ReadBits(32, true);
        if (h.hasPts || (next >= 0x000001C0 && next <= 0x000001DF)) {
            std::int64_t start = GetPos();
            BYTE code = 0;
            PesHeader pes;
            if (!FindStartCode(code, 4) || !ReadPesHeader(pes, code)) return false;
            h.hasPts = pes.hasPts;
            h.pts = pes.pts;
            len -= static_cast<int>(GetPos() - start);
        }
    }
    Skip(h.preBytes);
    len -= h.preBytes;
    if (len < 0) return false;
    h.length = len;
    return true;
}
