#include "source/CDVDStream.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/win/DebugTrace.h"

namespace {
constexpr int kMaxTitles = 32;
constexpr int kMaxChapters = 64;

// Receives the bytes a seek has to skip. Shared by every stream of the
// process, so it has a lock of its own (taken after a stream's lock).
std::mutex scratchLock;
BYTE scratch[CDVDStream::kScratchSize];
} // namespace

DvdDiscInfo& CDVDStream::SharedDiscInfo() {
    static DvdDiscInfo info{};
    return info;
}

HRESULT CDVDStream::SetDvdHandle(DvdHandle handle) {
    std::lock_guard lock(lock_);
    if (handle == 0) return E_INVALIDARG;
    if (!buffer_) {
        buffer_.reset(new (std::nothrow) BYTE[kReadSize]);
        if (!buffer_) return E_FAIL;
    }
    handle_ = handle;
    DvdDiscInfo& info = SharedDiscInfo();
    info = DvdDiscInfo{};
    MyDVDGetInfo(handle_, &info);
    return SetTitleArea(0, -1);
}

const DvdTitleInfo* CDVDStream::SelectedTitle() const {
    const DvdDiscInfo& info = SharedDiscInfo();
    if (handle_ == 0 || title_ < 0 || title_ >= kMaxTitles || title_ >= info.titleCount) return nullptr;
    return &info.titles[title_];
}

HRESULT CDVDStream::SetTitleArea(int title, int chapter) {
    std::lock_guard lock(lock_);
    const DvdDiscInfo& info = SharedDiscInfo();
    if (handle_ == 0 || title < 0 || title >= kMaxTitles || title >= info.titleCount)
        return E_INVALIDARG;
    const DvdTitleInfo& rec = info.titles[title];
    const int chapters = std::clamp(rec.chapterCount, 0, kMaxChapters);
    if (chapter < -1 || chapter >= chapters) return E_INVALIDARG;

    std::memset(buffer_.get(), 0, kReadSize);
    cursor_ = buffer_.get();
    bytesLeft_ = 0;
    title_ = title;
    chapter_ = chapter;

    if (chapter == -1) {
        MyDVDSetArea(handle_, title, 0);
        MyDvdSetStopPos(handle_, title + 1, 0);
    } else {
        MyDVDSetArea(handle_, title, chapter);
        MyDvdSetStopPos(handle_, title, chapter + 1);
    }
    position_ = 0;

    // The whole title's size even for one chapter: the real end shows when
    // the library stops delivering data.
    LONGLONG sectors = 0;
    for (int i = 0; i < chapters; ++i) sectors += static_cast<std::uint32_t>(rec.chapterSectors[i]);
    length_ = sectors * kSectorSize;
    return S_OK;
}

LONGLONG CDVDStream::TitleDurationMs() const {
    std::lock_guard lock(lock_);
    const DvdTitleInfo* rec = SelectedTitle();
    return rec ? static_cast<LONGLONG>(rec->durationMs) : 0;
}

int CDVDStream::Title() const {
    std::lock_guard lock(lock_);
    return title_;
}

bool CDVDStream::SubpicturePalette(std::uint32_t palette[16]) const {
    std::lock_guard lock(lock_);
    return handle_ != 0 && MyDVDGetPalette(handle_, title_, palette) == 0;
}

int CDVDStream::Chapter() const {
    std::lock_guard lock(lock_);
    return chapter_;
}

HRESULT CDVDStream::SetPointer(LONGLONG pos) {
    std::lock_guard lock(lock_);
    // Inside the buffered block (its end included): no library call.
    if (pos >= position_ && pos <= position_ + bytesLeft_) {
        const int skip = static_cast<int>(pos - position_);
        cursor_ += skip;
        bytesLeft_ -= skip;
        position_ = pos;
        return S_OK;
    }
    if (handle_ == 0 || !buffer_) return E_FAIL;
    const LONGLONG reached = MyDVDSeek(handle_, pos, 0);
    if (reached < 0) return E_FAIL;
    position_ = reached;
    bytesLeft_ = 0;
    cursor_ = buffer_.get();
    if (reached == pos) return S_OK;
    return DiscardTo(pos);
}

// Reads and drops the bytes between the position the library landed on and
// `pos`, so that the next read starts exactly at `pos`.
HRESULT CDVDStream::DiscardTo(LONGLONG pos) {
    if (position_ > pos) {
        DebugTrace("MyDVDSeek landed past %lld\n", static_cast<long long>(pos));
        return E_FAIL;
    }
    std::lock_guard scratchGuard(scratchLock);
    HRESULT hr = S_OK;
    while (position_ < pos) {
        const DWORD chunk = static_cast<DWORD>(std::min<LONGLONG>(pos - position_, kScratchSize));
        DWORD got = 0;
        hr = Read(scratch, chunk, TRUE, &got);
        if (hr != S_OK || got < chunk) break;
    }
    return hr;
}

HRESULT CDVDStream::Read(BYTE* dest, DWORD count, BOOL /*aligned*/, DWORD* read) {
    std::lock_guard lock(lock_);
    DWORD copied = 0;
    if (bytesLeft_ < 0 || !buffer_ || (count > 0 && !dest)) {
        if (read) *read = 0;
        return E_FAIL;
    }
    while (copied < count) {
        if (bytesLeft_ > 0) {
            const DWORD n = std::min<DWORD>(static_cast<DWORD>(bytesLeft_), count - copied);
            std::memcpy(dest + copied, cursor_, n);
            cursor_ += n;
            position_ += n;
            bytesLeft_ -= static_cast<int>(n);
            copied += n;
            continue;
        }
        cursor_ = buffer_.get();
        bytesLeft_ = std::min(MyDVDRead(handle_, buffer_.get(), kReadSize), kReadSize);
        if (bytesLeft_ <= 0) {
            // The title ends here (or the disc failed): report the end at the
            // point reached. A negative value fails later reads too.
            length_ = position_;
            DebugTrace("MyDVDRead error\n");
            break;
        }
    }
    if (read) *read = copied;
    return copied > 0 ? S_OK : E_FAIL;
}

LONGLONG CDVDStream::Size(LONGLONG* available) {
    std::lock_guard lock(lock_);
    if (available) *available = length_;
    return length_;
}
