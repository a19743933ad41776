// IBufferInfo: how full the splitter's output queues are. Any thread.
#pragma once

#include "platform/com/IUnknown.h"
#include "platform/dshow/DshowTypes.h"

constexpr IID IID_IBufferInfo = MakeGuid("99F31E69-0E47-49BF-80FE-B5ED7EC43687");

struct IBufferInfo : IUnknown {
    static constexpr const IID& kIid = IID_IBufferInfo;
    // Number of output pins.
    virtual int GetCount() = 0;
    // Packets and payload bytes queued on output pin i: S_OK when the pin is
    // connected, S_FALSE when not, E_INVALIDARG for a bad index.
    virtual HRESULT GetStatus(int i, int& samples, int& size) = 0;
    // 0 normally, -1 while the delivery threads run at below-normal priority.
    virtual DWORD GetPriority() = 0;

protected:
    ~IBufferInfo() = default;
};
