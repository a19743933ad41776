#include "source/AsyncRequest.h"

AsyncRequest::AsyncRequest(CAsyncStream* stream, LONGLONG position, LONG length, BOOL aligned,
                           BYTE* buffer, IMediaSample* sample, DWORD_PTR cookie)
    : stream_(stream), position_(position), length_(length), aligned_(aligned),
      buffer_(buffer), sample_(sample), cookie_(cookie), result_(VFW_E_TIMEOUT) {}

HRESULT AsyncRequest::Complete() {
    stream_->Lock();
    result_ = stream_->SetPointer(position_);
    if (result_ == S_OK) {
        DWORD actual = 0;
        result_ = stream_->Read(buffer_, static_cast<DWORD>(length_), aligned_, &actual);
        if (result_ == OLE_S_FIRST) {
            if (sample_) sample_->SetDiscontinuity(TRUE);
            result_ = S_OK;
        }
        if (SUCCEEDED(result_)) {
            if (actual == static_cast<DWORD>(length_)) {
                result_ = S_OK;
            } else {
                length_ = static_cast<LONG>(actual);
                result_ = S_FALSE;
            }
        }
    }
    stream_->Unlock();
    return result_;
}
