// Test source filter: one output pin per stream, each with one fixed media type.
// The test pushes payloads through it from its own thread (Send), in the order it
// chooses, after the graph has started; samples carry start = the payload's time
// and stop = start + 1 like the demultiplexer's.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/dshow/BaseFilter.h"
#include "platform/dshow/BaseOutputPin.h"

namespace mediatest {

class CPacketSource;

class CPacketSourcePin : public CBaseOutputPin {
public:
    CPacketSourcePin(CPacketSource* filter, CCritSec* lock, HRESULT* phr, const std::wstring& name,
                     const CMediaType& mt, LONG bufferSize);
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pmt) override;
    HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* prop) override;

    // One sample; the result of the downstream Receive.
    HRESULT Send(const BYTE* data, LONG size, bool hasTime, REFERENCE_TIME start,
                 bool discontinuity = false);

private:
    CMediaType type_;
    LONG bufferSize_;
};

class CPacketSource : public CCritSec, public CBaseFilter {
public:
    CPacketSource();
    ~CPacketSource() override;
    // Adds an output pin (before connection). Returns its index.
    int AddStream(const std::wstring& name, const CMediaType& mt, LONG bufferSize);
    int GetPinCount() override { return int(pins_.size()); }
    CBasePin* GetPin(int n) override;
    CPacketSourcePin* Pin(int n) { return pins_.at(n).get(); }

private:
    std::vector<std::unique_ptr<CPacketSourcePin>> pins_;
};

// Media types as the demultiplexer builds them.
CMediaType Mpeg2VideoType(int width, int height, REFERENCE_TIME frameDuration);
CMediaType Ac3Type(int channels, int rate);
CMediaType Mpeg1AudioType(int layer, int channels, int rate);
CMediaType LpcmType(int channels, int rate, int bits);
CMediaType SubpictureType();
CMediaType Yv12Type(int width, int height);

} // namespace mediatest
