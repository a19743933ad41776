// IKeyFrameInfo: key-frame positions of a splitter (times in 100-ns units).
#pragma once

#include "platform/com/IUnknown.h"
#include "platform/dshow/DshowTypes.h"

constexpr IID IID_IKeyFrameInfo = MakeGuid("0F4D0F77-6421-4E7F-972D-B9D602F36918");

struct IKeyFrameInfo : IUnknown {
    static constexpr const IID& kIid = IID_IKeyFrameInfo;
    virtual HRESULT GetKeyFrameCount(UINT& nKFs) = 0;
    virtual HRESULT GetKeyFrames(const GUID* pFormat, REFERENCE_TIME* pKFs, UINT& nKFs) = 0;

protected:
    ~IKeyFrameInfo() = default;
};
