// The byte stream of one title (or one chapter) of an opened disc, read
// through the disc library in blocks of kReadSize bytes.
//
// Positions are byte offsets from the start of the selected area. The length
// starts as the title's size from the disc description and shrinks to the
// position reached when the library stops delivering data, so a truncated
// title ends cleanly where its data ends.
//
// Threads: every operation may be called from any thread; all of them take
// the stream's own (re-entrant) lock, and the disc library is entered only
// under it. The disc handle is borrowed: the stream never closes it.
#pragma once

#include <cstddef>
#include <memory>

#include "platform/dshow/CritSec.h"
#include "platform/dvd/LibDvd.h"
#include "source/CAsyncStream.h"

class CDVDStream : public CAsyncStream {
public:
    // Bytes asked of the library per refill.
    static constexpr int kReadSize = 10240;
    // Largest gap the library may leave before a sought offset.
    static constexpr int kScratchSize = 20480;
    static constexpr LONGLONG kSectorSize = 2048;

    CDVDStream() = default;
    ~CDVDStream() override = default;
    CDVDStream(const CDVDStream&) = delete;
    CDVDStream& operator=(const CDVDStream&) = delete;

    // Takes a disc handle from MyDVDOpen (still owned by the caller), refills
    // the shared disc description from it and selects title 0 as a whole.
    // E_FAIL when the read buffer cannot be allocated, E_INVALIDARG for
    // handle 0 or a disc without titles.
    HRESULT SetDvdHandle(DvdHandle handle);
    // Selects title `title` (0-based), either whole (chapter -1) or from
    // chapter `chapter` to the end of that chapter; the position returns
    // to 0. The length is that of the whole title in either case.
    // E_INVALIDARG (nothing changed in the library) when no disc was given
    // or an index is out of range.
    HRESULT SetTitleArea(int title, int chapter);
    // Length of the selected title in milliseconds, truncated; 0 before a disc
    // was given.
    LONGLONG TitleDurationMs() const;

    int Title() const;
    int Chapter() const;
    // The selected title's subpicture colour table (16 entries 0x00YYCrCb);
    // false when there is no disc or the title has none.
    bool SubpicturePalette(std::uint32_t palette[16]) const;

    HRESULT SetPointer(LONGLONG pos) override;
    HRESULT Read(BYTE* dest, DWORD count, BOOL aligned, DWORD* read) override;
    LONGLONG Size(LONGLONG* available = nullptr) override;
    DWORD Alignment() override { return 1; }
    void Lock() override { lock_.Lock(); }
    void Unlock() override { lock_.Unlock(); }

    // The disc description shared by every stream of the process; refilled
    // by SetDvdHandle. Read and written on the user-interface thread only.
    static DvdDiscInfo& SharedDiscInfo();

private:
    const DvdTitleInfo* SelectedTitle() const;
    HRESULT DiscardTo(LONGLONG pos);

    mutable CCritSec lock_;
    // -- guarded by lock_
    DvdHandle handle_ = 0;
    LONGLONG position_ = 0;
    LONGLONG length_ = 0;
    std::unique_ptr<BYTE[]> buffer_;
    BYTE* cursor_ = nullptr;
    // Unread bytes at cursor_; negative after the library reported an error.
    int bytesLeft_ = 0;
    int title_ = 0;
    int chapter_ = -1;
};
